"use strict";
// The toolbar button's panel: which window is kept or being asked about, and letting go of it.

async function show() {
  const keep = await browser.runtime.sendMessage({popup: "status"});
  document.getElementById("none").hidden = Boolean(keep);
  document.getElementById("kept").hidden = !keep;
  if (!keep) {
    return;
  }
  document.getElementById("state").textContent = keep.state === "kept"
    ? "Halvane keeps this window on top for" : "Halvane is asking you whether to keep this window on top for";
  document.getElementById("site").textContent = keep.site;
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
