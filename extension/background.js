"use strict";
// Asks Halvane, through its native-messaging host, to keep a page's window on
// top, and lets go again. Halvane finds the window by its title alone, so the
// window is marked with a title preface of its own (a pin and a random id):
// that makes its title unique, shows the user which window is kept, and taking
// the preface away is what ends the keep.
//
// One keep at a time, like Halvane itself. It lives in session storage, since
// the background page is unloaded while nothing happens.

const HOST = "org.marrowin.halvane";
const TITLE_WAIT_MS = 3000;
const TITLE_POLL_MS = 100;

// Every change of the keep runs after the one before it: the events of tabs
// and windows arrive while a keep is still being set up.
let queue = Promise.resolve();
function serially(task) {
  const run = queue.then(task, task);
  queue = run.catch(() => {});
  return run;
}

async function currentKeep() {
  const {keep} = await browser.storage.session.get("keep");
  return keep || null;
}

async function saveKeep(keep) {
  if (keep) {
    await browser.storage.session.set({keep});
  } else {
    await browser.storage.session.remove("keep");
  }
  await browser.action.setBadgeText({text: keep ? "on" : ""});
  await browser.action.setTitle({title: keep ? `Halvane: keeping the window of ${keep.site}` : "Halvane"});
}

// The site is always the tab's own, never anything a page says.
function siteOf(url) {
  try {
    const parsed = new URL(url);
    return parsed.protocol === "http:" || parsed.protocol === "https:" ? parsed.hostname : null;
  } catch {
    return null;
  }
}

function tell(tabId, outcome, reason, message) {
  browser.tabs.sendMessage(tabId, {outcome, reason, message}, {frameId: 0}).catch(() => {});
}

function randomId() {
  const letters = "abcdefghjkmnpqrstuvwxyz23456789";
  return Array.from(crypto.getRandomValues(new Uint8Array(4)), (b) => letters[b % letters.length]).join("");
}

function sleep(ms) {
  return new Promise((resolve) => setTimeout(resolve, ms));
}

async function removePreface(windowId) {
  await browser.windows.update(windowId, {titlePreface: ""}).catch(() => {});
}

// Ends the keep: without its preface the window's title is one Halvane does
// not know, and Halvane ends. The page hears of it while it is still the
// site that asked.
async function endKeep(keep, reason) {
  await removePreface(keep.windowId);
  await saveKeep(null);
  if (reason) {
    const tab = await browser.tabs.get(keep.tabId).catch(() => null);
    if (tab && siteOf(tab.url) === keep.site) {
      tell(keep.tabId, "released", reason);
    }
  }
}

// The window's title with the preface shown, or null when Firefox never shows
// it (it can be set to keep page titles out of window titles).
async function waitForPreface(windowId, preface) {
  for (let waited = 0; waited <= TITLE_WAIT_MS; waited += TITLE_POLL_MS) {
    const window = await browser.windows.get(windowId);
    if (window.title && window.title.startsWith(preface)) {
      return window.title;
    }
    await sleep(TITLE_POLL_MS);
  }
  return null;
}

async function keepWindow(tabId) {
  const tab = await browser.tabs.get(tabId);
  const site = siteOf(tab.url);
  const keep = await currentKeep();
  if (keep && keep.tabId === tabId) {
    tell(tabId, "kept", "already");
    return;
  }
  if (keep) {
    tell(tabId, "refused", "busy");
    return;
  }
  if (!site) {
    tell(tabId, "refused", "not-a-web-page");
    return;
  }
  // The window's title is its active tab's: another tab's page cannot be kept.
  if (!tab.active) {
    tell(tabId, "refused", "not-active");
    return;
  }

  // The preface begins with the pin, so the title sent never begins with "_":
  // no page can have Halvane hide its window.
  const preface = `\u{1F4CC} ${randomId()} `;
  await browser.windows.update(tab.windowId, {titlePreface: preface});
  const windowTitle = await waitForPreface(tab.windowId, preface).catch(() => null);
  if (!windowTitle) {
    await removePreface(tab.windowId);
    tell(tabId, "error", "title-not-shown",
      "The window's title does not show the page's title, so Halvane could not find the window.");
    return;
  }
  const pageTitle = (await browser.tabs.get(tabId)).title;
  const started = {tabId, windowId: tab.windowId, site, preface, pageTitle, windowTitle, pid: 0};
  await saveKeep(started);

  let reply;
  try {
    reply = await browser.runtime.sendNativeMessage(HOST, {
      site, title: windowTitle, language: browser.i18n.getUILanguage(),
    });
  } catch (e) {
    reply = {ok: false, error: "no-host", message: String(e && e.message)};
  }
  if (reply && reply.ok === true && Number.isInteger(reply.pid)) {
    await saveKeep({...started, pid: reply.pid});
    tell(tabId, "kept", "started");
    return;
  }
  await endKeep(started, null);
  const code = reply && typeof reply.error === "string" ? reply.error : "host";
  const message = reply && typeof reply.message === "string" ? reply.message : "";
  tell(tabId, "error", code, message);
}

async function letGo(tabId, reason) {
  const keep = await currentKeep();
  if (!keep || (tabId !== null && keep.tabId !== tabId)) {
    if (tabId !== null) {
      tell(tabId, "released", "not-kept");
    }
    return;
  }
  await endKeep(keep, reason);
}

// Ends the keep when the event means its tab or its title is gone. reason
// null: the page that asked is gone too, so nobody is told.
function watch(matches, reason) {
  return (...args) => serially(async () => {
    const keep = await currentKeep();
    if (keep && matches(keep, ...args)) {
      await endKeep(keep, reason);
    }
  });
}

// Messages: a page's request through the content script (top frame only), or
// the toolbar popup's.
browser.runtime.onMessage.addListener((message, sender) => {
  if (message === null || typeof message !== "object") {
    return undefined;
  }
  if (sender.tab && sender.frameId === 0) {
    if (message.halvane === "keep") {
      serially(() => keepWindow(sender.tab.id)).catch(() => tell(sender.tab.id, "error", "failed"));
    } else if (message.halvane === "let-go") {
      serially(() => letGo(sender.tab.id, "page"));
    }
    return undefined;
  }
  if (!sender.tab && message.popup === "status") {
    return serially(currentKeep);
  }
  if (!sender.tab && message.popup === "let-go") {
    return serially(() => letGo(null, "user"));
  }
  return undefined;
});

browser.tabs.onRemoved.addListener(watch((keep, tabId) => keep.tabId === tabId, null));
browser.windows.onRemoved.addListener(watch((keep, windowId) => keep.windowId === windowId, null));
// Another tab shown in the window, or the tab moved out of it: the window's
// title changes, and Halvane lets go of it.
browser.tabs.onActivated.addListener(watch((keep, info) =>
  keep.windowId === info.windowId && keep.tabId !== info.tabId, "title"));
browser.tabs.onDetached.addListener(watch((keep, tabId) => keep.tabId === tabId, "title"));
browser.tabs.onUpdated.addListener(watch((keep, tabId, change) =>
  keep.tabId === tabId && change.url !== undefined && siteOf(change.url) !== keep.site, null),
{properties: ["url"]});
browser.tabs.onUpdated.addListener(watch((keep, tabId, change) =>
  keep.tabId === tabId && change.title !== undefined && change.title !== keep.pageTitle, "title"),
{properties: ["title"]});
