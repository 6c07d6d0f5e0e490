"use strict";
// The toolbar button's panel: which window is kept or being asked about, and letting go of it.
// Its texts come from _locales, in the language Firefox chose for the extension.

// Stands for the site in a message, so the site can show in bold wherever the language puts it.
const SITE_MARK = "\uE000";

function withSite(element, message, site) {
  const [before, after = ""] = message.split(SITE_MARK);
  const bold = document.createElement("b");
  bold.textContent = site;
  element.replaceChildren(before, bold, after);
}

// Just after the extension started (an update, Firefox's start) its background
// may not answer yet: ask again for a few seconds rather than leave the panel
// empty, and at worst show that nothing is kept.
async function status() {
  for (let tries = 1; tries <= 20; tries++) {
    const answer = await browser.runtime.sendMessage({popup: "status"}).catch(() => undefined);
    if (answer) {
      return answer;
    }
    await new Promise((resolve) => setTimeout(resolve, 250));
  }
  return {keep: null, dismissals: 0};
}

async function show() {
  // The texts' own language, not Firefox's (they differ where the extension
  // falls back to English): it picks the fonts, the Han characters' above all.
  document.documentElement.lang = browser.i18n.getMessage("lang");
  document.documentElement.dir = browser.i18n.getMessage("dir");
  document.getElementById("none-text").textContent = browser.i18n.getMessage("panelNone");
  document.getElementById("show").textContent = browser.i18n.getMessage("panelShow");
  document.getElementById("let-go").textContent = browser.i18n.getMessage("panelLetGo");

  const {keep, dismissals} = await status();
  // Prompts closed unanswered stop a domain's, or a tab's, requests for a while: the user may undo that.
  document.getElementById("dismissed-text").textContent = browser.i18n.getMessage("panelDismissed");
  document.getElementById("forget").textContent = browser.i18n.getMessage("panelForget");
  document.getElementById("dismissed").hidden = dismissals === 0;
  document.getElementById("forget").onclick = async () => {
    await browser.runtime.sendMessage({popup: "forget"});
    window.close();
  };
  document.getElementById("none").hidden = Boolean(keep);
  document.getElementById("kept").hidden = !keep;
  if (!keep) {
    return;
  }
  withSite(document.getElementById("state"), keep.state === "kept"
    ? browser.i18n.getMessage("panelKept", SITE_MARK) : browser.i18n.getMessage("panelAsking", SITE_MARK), keep.site);
  document.getElementById("page").textContent = keep.windowTitle;
  document.getElementById("show").onclick = async () => {
    await browser.windows.update(keep.windowId, {focused: true}).catch(() => {});
    await browser.tabs.update(keep.tabId, {active: true}).catch(() => {});
    window.close();
  };
  document.getElementById("let-go").onclick = async () => {
    await browser.runtime.sendMessage({popup: "let-go"});
    window.close();
  };
}

show();
