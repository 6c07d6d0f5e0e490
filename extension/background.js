"use strict";
// Asks Halvane, through its native-messaging host, to keep a page's window on
// top, and tells the page and the toolbar what really happened. Halvane finds
// the window by its title alone, so the window is marked with a title preface
// of its own (a pin and a random id): that makes its title unique, shows the
// user which window is kept, and taking the preface away is what ends the keep.
//
// The host stays connected while its Halvane runs and reports each change:
// "started", "asking" (the prompt shows), "kept" (the window is in the topmost
// band), and "ended" with what happened. The open port also keeps this
// background page loaded, so a keep lasts however long Firefox's idle time-out.
// Until the window is kept, a request can be taken back: before the host
// starts nothing is started; after, the host is told to withdraw it, and ends
// its Halvane before anything is stored.
//
// One keep at a time, like Halvane itself. It lives in session storage, which
// Firefox empties when the extension starts anew (install, update, reload,
// enable, Firefox's own start); a page woken from idle finds it there.

const HOST = "org.marrowin.halvane";
const TITLE_WAIT_MS = 3000;
// Firefox retitles the window within milliseconds: a short step sees it then.
const TITLE_POLL_MS = 10;
const TITLE_READS = 3;
// Firefox blocks a site's notification prompt for a while after a few
// dismissals; Halvane's prompt is as intrusive, so a domain (a site and its
// subdomains) gets three, each within a week of the one before, and then none
// for a week from the last. They are kept in local storage, over Firefox's
// restarts, until the user forgets them from the toolbar panel.
const DISMISSALS_ALLOWED = 3;
const EMBARGO_MS = 7 * 24 * 60 * 60 * 1000;
// A page that owns many domains (or names under a shared suffix such as
// github.io, each a domain of its own) could take each one's three in turn:
// a tab gets three dismissals in all, whatever its sites, until it is closed.
const TAB_DISMISSALS_ALLOWED = 3;
const PIN = "\u{1F4CC}";
const PREFACE_PATTERN = /\u{1F4CC} [a-z2-9]{4} /u;

// The ports of the keeps this page started. A keep in storage without its port
// was cut off when the page was unloaded: nobody hears from its host any more.
const ports = new Map();

// Every change of the keep runs after the one before it: the events of tabs,
// windows and the host arrive while a keep is still being set up.
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

const BADGES = {starting: "…", asking: "?", kept: "on"};
async function saveKeep(keep) {
  await Promise.all([
    keep ? browser.storage.session.set({keep}) : browser.storage.session.remove("keep"),
    browser.action.setBadgeText({text: keep ? BADGES[keep.state] : ""}),
    browser.action.setTitle({title: toolbarTitle(keep)}),
  ]);
}

// In the language Firefox chose for the extension, from _locales.
function toolbarTitle(keep) {
  if (!keep) {
    return browser.i18n.getMessage("extensionName");
  }
  return keep.state === "kept" ? browser.i18n.getMessage("titleKept", keep.site)
    : browser.i18n.getMessage("titleAsking", keep.site);
}

// The site is always the sender's own, never anything a page says.
function siteOf(url) {
  try {
    const parsed = new URL(url);
    return parsed.protocol === "http:" || parsed.protocol === "https:" ? parsed.hostname : null;
  } catch {
    return null;
  }
}

// The host names the host takes: letters, digits and hyphens in dot-separated
// labels of 1 to 63, 253 in all, no hyphen at either end of a label. An IPv6
// address, a name ending in a dot or one with "_" in it is none.
const HOST_NAME = /^(?=.{1,253}$)[a-z0-9](?:[a-z0-9-]{0,61}[a-z0-9])?(?:\.[a-z0-9](?:[a-z0-9-]{0,61}[a-z0-9])?)*$/;

// Every outcome a page can hear, with the reasons it comes with. The page
// authors' guide has a row for each, and a test holds the two together. An
// error may also carry one of the host's own codes.
const OUTCOMES = {
  kept: ["allowed", "remembered", "policy", "already"],
  declined: ["never", "remembered", "policy"],
  dismissed: ["cancel"],
  busy: ["keeping", "asking", "halvane"],
  released: ["page", "user", "title", "tab", "window", "halvane", "restart", "not-kept"],
  refused: ["no-gesture", "too-many", "not-active", "not-focused", "embargoed", "site-changed", "title-changed",
    "not-a-web-page", "not-a-host-name"],
  error: ["title-not-shown", "not-found", "no-prompt", "no-host", "host-ended", "halvane-exit", "failed"],
};

// Only the document that asked hears, and it matches the outcome to its
// request by the request's number: its content script drops a message that
// carries another document's token.
function tell(asker, outcome, reason, message) {
  if (!OUTCOMES[outcome] || (!OUTCOMES[outcome].includes(reason) && outcome !== "error")) {
    console.error(`Halvane: an outcome the guide does not list: ${outcome}/${reason}`);
  }
  browser.tabs.sendMessage(asker.tabId, {token: asker.token, n: asker.n, outcome, reason, message}, {frameId: 0})
    .catch(() => {});
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

// A pin left by this extension before it started anew: its keep is over, and
// without the pin its Halvane ends.
async function removeOldPins() {
  const windows = await browser.windows.getAll().catch(() => []);
  await Promise.all(windows.filter((w) => PREFACE_PATTERN.test(w.title || ""))
    .map((w) => removePreface(w.id)));
}

// The dismissals counted: by domain, {count, last} (the time of the last),
// and by tab, in the session alone, since a tab does not outlive it.
async function readDismissals() {
  const [{dismissals}, {tabDismissals}] = await Promise.all([
    browser.storage.local.get("dismissals"), browser.storage.session.get("tabDismissals")]);
  return {domains: dismissals || {}, tabs: tabDismissals || {}};
}

function current(entry, now) {
  return entry && now - entry.last < EMBARGO_MS ? entry : null;
}

function embargoed(request, dismissals) {
  const domain = current(dismissals.domains[registrableDomain(request.site)], Date.now());
  return (domain !== null && domain.count >= DISMISSALS_ALLOWED) ||
    (dismissals.tabs[request.tabId] || 0) >= TAB_DISMISSALS_ALLOWED;
}

// Counts towards the keep's domain and its tab. Counts a week old go as the
// next one is written, so the stored ones stay few.
async function countDismissal(keep) {
  const now = Date.now();
  const {domains, tabs} = await readDismissals();
  const kept = Object.fromEntries(Object.entries(domains).filter(([, entry]) => current(entry, now)));
  const domain = registrableDomain(keep.site);
  kept[domain] = {count: (kept[domain]?.count || 0) + 1, last: now};
  await Promise.all([browser.storage.local.set({dismissals: kept}),
    browser.storage.session.set({tabDismissals: {...tabs, [keep.tabId]: (tabs[keep.tabId] || 0) + 1}})]);
}

// How many domains and tabs have dismissals that count: the panel offers to forget them.
function dismissalsCounted({domains, tabs}) {
  const now = Date.now();
  return Object.values(domains).filter((entry) => current(entry, now)).length + Object.keys(tabs).length;
}

async function forgetDismissals() {
  await Promise.all([browser.storage.local.remove("dismissals"), browser.storage.session.remove("tabDismissals")]);
}

// The window, its tabs with it, once its title shows the preface, wherever
// Firefox puts it; null if it never does, as when Firefox keeps page titles
// out of window titles.
async function prefaceShown(windowId, preface) {
  for (let waited = 0; waited <= TITLE_WAIT_MS; waited += TITLE_POLL_MS) {
    const window = await browser.windows.get(windowId, {populate: true});
    if (window.title && window.title.includes(preface)) {
      return window;
    }
    await sleep(TITLE_POLL_MS);
  }
  return null;
}

function tabTitleIn(window, tabId) {
  const tab = (window.tabs || []).find((t) => t.id === tabId);
  return tab ? tab.title || "" : null;
}

// The window's title as it stands: read twice alike, with the page's own
// title the same at both reads. A page retitling itself meanwhile would have
// Halvane look for a title the window no longer has. Each read brings the
// window's tabs, so the last one also says whether the request may still go.
async function settledTitle(first, tabId, preface) {
  let before = first;
  for (let read = 0; read < TITLE_READS; read++) {
    const window = await browser.windows.get(first.id, {populate: true});
    const pageTitle = tabTitleIn(window, tabId);
    if (pageTitle !== null && window.title === before.title && window.title.includes(preface) &&
        pageTitle === tabTitleIn(before, tabId)) {
      return {window, titles: {windowTitle: window.title, pageTitle}};
    }
    before = window;
    await sleep(TITLE_POLL_MS);
  }
  return null;
}

// Why a request may not go to Halvane without looking at any keep, or null:
// answered at once, never behind other work. Letting go needs none of this.
function quickRefusal(request) {
  if (!request.site) {
    return "not-a-web-page";
  }
  if (!HOST_NAME.test(request.site)) {
    return "not-a-host-name";
  }
  return request.activated ? null : "no-gesture";
}

// Why a request may not go to Halvane, or null, from its window as read with
// its tabs, and the dismissals counted.
function refusal(request, window, dismissals) {
  if (embargoed(request, dismissals)) {
    return "embargoed";
  }
  const tab = window && (window.tabs || []).find((t) => t.id === request.tabId);
  if (!tab) {
    // Closed, or moved to another window: the window's title is not its own.
    return window ? "not-active" : "site-changed";
  }
  if (siteOf(tab.url) !== request.site) {
    return "site-changed";
  }
  // The window's title is its active tab's, and a prompt belongs in front of
  // what the user is looking at.
  if (!tab.active) {
    return "not-active";
  }
  return window.focused ? null : "not-focused";
}

async function windowOf(request) {
  return browser.windows.get(request.windowId, {populate: true}).catch(() => null);
}

// The titles Halvane is to look for, once the window's title shows the
// preface, and the window as last read; otherwise the outcome the page is to hear.
async function markWindow(keep) {
  await browser.windows.update(keep.windowId, {titlePreface: keep.preface});
  const shown = await prefaceShown(keep.windowId, keep.preface).catch(() => null);
  if (!shown) {
    return {told: ["error", "title-not-shown",
      "The window's title does not show the page's title, so Halvane could not find the window."]};
  }
  return await settledTitle(shown, keep.tabId, keep.preface) || {told: ["refused", "title-changed"]};
}

// A keep that is ending has a Halvane that is still ending: a request made
// meanwhile waits for it, at most this long, and is then told Halvane is busy.
const ENDING_WAIT_MS = 2000;
const ENDING_POLL_MS = 100;
const WAIT = "wait";

async function keepWindow(request) {
  const [keep, dismissals, window] = await Promise.all([currentKeep(), readDismissals(), windowOf(request)]);
  if (keep && keep.ending && Date.now() - request.sent < ENDING_WAIT_MS) {
    return WAIT;
  }
  if (keep && keep.ending) {
    tell(request, "busy", "halvane");
    return;
  }
  if (keep && keep.token === request.token && keep.state === "kept") {
    // It hears the keep's end too, as the request that was kept does.
    await saveKeep({...keep, alreadys: [...(keep.alreadys || []), request]});
    tell(request, "kept", "already");
    return;
  }
  if (keep && keep.token === request.token) {
    tell(request, "busy", "asking");
    return;
  }
  const why = refusal(request, window, dismissals);
  if (why) {
    tell(request, "refused", why);
    return;
  }
  if (keep) {
    tell(request, "busy", "keeping");
    return;
  }
  // The preface begins with the pin, so the title sent never begins with "_":
  // no page can have Halvane hide its window. The keep is there from now on,
  // so that a let-go, a closed tab or the toolbar can take it back while the
  // window is being marked, which goes on outside the queue.
  const starting = {...request, preface: `${PIN} ${randomId()} `, state: "starting", asked: false, settled: false,
    ending: null, letGos: [], alreadys: []};
  await saveKeep(starting);
  markThenConnect(starting, dismissals);
}

// The dismissals were read as the request was taken: they change only when a
// keep ends, and this is the one keep (the toolbar's forgetting only lessens them).
async function markThenConnect(starting, dismissals) {
  const marked = await markWindow(starting).catch(() => ({told: ["error", "failed"]}));
  await serially(async () => {
    const keep = await currentKeep();
    if (!keep || keep.preface !== starting.preface) {
      // Taken back meanwhile: its end took the pin away, unless the pin came after.
      const window = await browser.windows.get(starting.windowId).catch(() => null);
      if (window && (window.title || "").includes(starting.preface)) {
        await removePreface(starting.windowId);
      }
      return;
    }
    const told = marked.told || (keep.ending ? ["released", keep.ending] : null);
    const why = told ? null : refusal(keep, marked.window, dismissals);
    if (told || why) {
      await finish(keep.preface, ...(told || ["refused", why]));
      return;
    }
    // Halvane is started before the keep is saved: the host's messages are
    // handled in the queue, after this.
    const ready = {...keep, ...marked.titles};
    connect(ready);
    await saveKeep(ready);
  });
}

// Starts the host for the keep; what it reports is handled in turn.
function connect(keep) {
  let port;
  try {
    port = browser.runtime.connectNative(HOST);
  } catch (e) {
    serially(() => finish(keep.preface, "error", "no-host", String(e && e.message)));
    return;
  }
  ports.set(keep.preface, port);
  let heard = false;
  port.onMessage.addListener((message) => {
    heard = true;
    serially(() => hostSaid(keep.preface, message));
  });
  port.onDisconnect.addListener((p) =>
    serially(() => portClosed(keep.preface, heard, p.error ? String(p.error.message) : "")));
  port.postMessage({site: keep.site, title: keep.windowTitle, language: browser.i18n.getUILanguage()});
}

// The host ended without its last word. Closed before it said a word:
// Firefox found no host, or it could not start.
async function portClosed(preface, heard, error) {
  const keep = await currentKeep();
  if (!keep || keep.preface !== preface) {
    return;
  }
  if (promptDismissed(keep, "host-ended", keep.asked)) {
    await countDismissal(keep);
  }
  if (keep.ending) {
    return finish(preface, "released", keep.ending);
  }
  return finish(preface, "error", heard ? "host-ended" : "no-host", error);
}

// A change the host saw. Messages of a keep that is over are dropped.
async function hostSaid(preface, message) {
  const keep = await currentKeep();
  if (!keep || keep.preface !== preface || message === null || typeof message !== "object") {
    return;
  }
  switch (message.event) {
    case "started":
      return;
    case "asking":
      await saveKeep({...keep, state: "asking", asked: true});
      return;
    case "policy":
      await saveKeep({...keep, byPolicy: true});
      return;
    case "kept":
      await saveKeep({...keep, state: "kept", settled: !keep.ending});
      if (keep.ending) {
        // Taken back as the user answered: the pin's going ends this keep.
        await removePreface(keep.windowId);
      } else {
        tell(keep, "kept", keep.asked ? "allowed" : unasked(keep));
      }
      return;
    case "busy":
      return finish(preface, "busy", "halvane");
    case "error":
      return finish(preface, "error", String(message.error || "host"), String(message.message || ""));
    case "ended":
      return ended(keep, message);
    default:
      return;
  }
}

// Who answered when the user was not asked: the administrators' policy, or
// the user's own remembered answer.
function unasked(keep) {
  return keep.byPolicy ? "policy" : "remembered";
}

// A prompt that showed and ended without the user's answer counts towards the
// site's dismissals, whoever ended it, but for the user's own Let go from the
// toolbar.
function promptDismissed(keep, outcome, asked) {
  return outcome === "dismissed" ||
    (asked && keep.state !== "kept" && keep.ending !== "user" && ["withdrawn", "host-ended"].includes(outcome));
}

// Halvane has ended: what the user did, told as the page will read it.
async function ended(keep, message) {
  const outcome = String(message.outcome);
  if (promptDismissed(keep, outcome, message.asked === true || keep.asked)) {
    await countDismissal(keep);
  }
  if (keep.ending) {
    return finish(keep.preface, "released", keep.ending);
  }
  const told = {
    released: ["released", "halvane"],
    dismissed: ["dismissed", "cancel"],
    declined: ["declined", keep.asked ? "never" : unasked(keep)],
    busy: ["busy", "halvane"],
    "not-found": ["error", "not-found"],
    "no-prompt": ["error", "no-prompt", "Halvane ended without showing its prompt."],
  }[outcome] || ["error", "halvane-exit", `Halvane ended with ${message.exitCode}.`];
  return finish(keep.preface, ...told);
}

// The keep is over: its pin goes, the toolbar is idle again and the page that
// asked hears why, with the let-gos that waited for the end. Once only: the
// host's last word and its port's closing both arrive here.
async function finish(preface, outcome, reason, message) {
  const port = ports.get(preface);
  ports.delete(preface);
  const keep = await currentKeep();
  if (!keep || keep.preface !== preface) {
    return;
  }
  await removePreface(keep.windowId);
  await saveKeep(null);
  // A keep the page itself let go of is told so by that let-go's own outcome.
  if (!(keep.settled && keep.ending === "page")) {
    for (const asker of [keep, ...keep.alreadys || []]) {
      tell(asker, outcome, reason, message);
    }
  }
  for (const asker of keep.letGos || []) {
    tell(asker, "released", keep.ending || reason);
  }
  if (port) {
    port.disconnect();
  }
}

// Ends the keep. A kept window is let go by its preface: without it the
// window's title is one Halvane does not know, and Halvane ends. Before then,
// the host is told to withdraw the request, and the preface stays until the
// host has ended its Halvane: it finds the window by that title. The page
// hears of it when Halvane has ended; an asker's let-go waits for that too.
async function letGo(keep, reason, asker) {
  const letGos = asker ? [...(keep.letGos || []), asker] : keep.letGos || [];
  if (keep.ending) {
    await saveKeep({...keep, letGos});
    return;
  }
  await saveKeep({...keep, ending: reason, letGos});
  const port = ports.get(keep.preface);
  if (!port) {
    await finish(keep.preface, "released", reason);
  } else if (keep.state === "kept") {
    await removePreface(keep.windowId);
  } else {
    port.postMessage({withdraw: true});
  }
}

// A let-go from the document the tab shows ends a keep of its window,
// whichever of the tab's documents asked for it (only one that has asked to
// keep sends one here).
async function pageLetsGo(asker) {
  const keep = await currentKeep();
  // Only those sent before this let-go: a later one has not had its turn yet.
  const waiting = queuedFrom(asker.tabId).filter((request) => request.waiting && !request.withdrawn);
  for (const request of waiting) {
    request.withdrawn = true;
    tell(request, "released", "page");
  }
  if (keep && keep.tabId === asker.tabId) {
    await letGo(keep, "page", asker);
  } else {
    tell(asker, "released", waiting.length ? "page" : "not-kept");
  }
}

// Ends the keep when the event means its tab or its title is gone.
function watch(matches, reason) {
  return (...args) => serially(async () => {
    const keep = await currentKeep();
    if (keep && matches(keep, ...args)) {
      await letGo(keep, reason);
    }
  });
}

// The request as it stood when it was sent: the site is the sending
// document's, whatever the tab shows by the time it is handled.
function requestFrom(message, sender) {
  return {
    tabId: sender.tab.id, windowId: sender.tab.windowId, token: String(message.token), n: Number(message.n),
    site: siteOf(sender.url), activated: message.activated === true, sent: Date.now(),
  };
}

// Keep requests not yet through the queue, waiting ones among them: a let-go
// from their tab waits behind them, and takes back one that waits.
const keepsQueued = new Set();

async function onKeep(request) {
  const why = quickRefusal(request);
  if (why) {
    tell(request, "refused", why);
    return;
  }
  keepsQueued.add(request);
  try {
    // A keep that is ending is waited for outside the queue: the host's word
    // that its Halvane has ended comes through it.
    while (await serially(() => takeTurn(request)) === WAIT) {
      await sleep(ENDING_POLL_MS);
    }
  } catch {
    tell(request, "error", "failed");
  } finally {
    keepsQueued.delete(request);
  }
}

// Marked as waiting within its turn, so that a let-go in the next turn sees it.
async function takeTurn(request) {
  if (request.withdrawn) {
    return null;
  }
  const result = await keepWindow(request);
  request.waiting = result === WAIT;
  return result;
}

function queuedFrom(tabId) {
  return [...keepsQueued].filter((request) => request.tabId === tabId);
}

// A document that goes takes every request of its own with it: those not yet
// through the queue at once (one waiting for an ending keep among them), and
// its keep in turn.
function documentGone(request) {
  for (const queued of keepsQueued) {
    if (queued.token === request.token && !queued.withdrawn) {
      queued.withdrawn = true;
      tell(queued, "released", "tab");
    }
  }
  serially(async () => {
    const keep = await currentKeep();
    if (keep && keep.token === request.token) {
      await letGo(keep, "tab");
    }
  });
}

// Nothing to let go of is answered at once; the rest takes its turn.
async function onLetGo(request) {
  if (!queuedFrom(request.tabId).length) {
    const keep = await currentKeep();
    if (!keep || keep.tabId !== request.tabId) {
      tell(request, "released", "not-kept");
      return;
    }
  }
  serially(() => pageLetsGo(request));
}

// Messages: a page's request through the content script (top frame only), or
// the toolbar popup's.
browser.runtime.onMessage.addListener((message, sender) => {
  if (message === null || typeof message !== "object") {
    return undefined;
  }
  if (sender.tab && sender.frameId === 0 && typeof message.token === "string") {
    const request = requestFrom(message, sender);
    if (message.halvane === "keep") {
      onKeep(request);
    } else if (message.halvane === "let-go") {
      onLetGo(request);
    } else if (message.halvane === "gone") {
      documentGone(request);
    }
    return undefined;
  }
  if (!sender.tab && message.popup === "status") {
    return Promise.all([currentKeep(), readDismissals()]).then(([keep, dismissals]) =>
      ({keep, dismissals: dismissalsCounted(dismissals)}));
  }
  if (!sender.tab && message.popup === "forget") {
    return serially(forgetDismissals);
  }
  if (!sender.tab && message.popup === "let-go") {
    return serially(async () => {
      const keep = await currentKeep();
      if (keep) {
        await letGo(keep, "user");
      }
    });
  }
  return undefined;
});

browser.tabs.onRemoved.addListener(watch((keep, tabId) => keep.tabId === tabId, "tab"));
browser.windows.onRemoved.addListener(watch((keep, windowId) => keep.windowId === windowId, "window"));
// Another tab shown in the window, or the tab moved out of it: the window's
// title changes, and Halvane would lose the window.
browser.tabs.onActivated.addListener(watch((keep, info) =>
  keep.windowId === info.windowId && keep.tabId !== info.tabId, "tab"));
browser.tabs.onDetached.addListener(watch((keep, tabId) => keep.tabId === tabId, "tab"));
browser.tabs.onUpdated.addListener(watch((keep, tabId, change) =>
  keep.tabId === tabId && change.url !== undefined && siteOf(change.url) !== keep.site, "tab"),
{properties: ["url"]});
browser.tabs.onUpdated.addListener(watch((keep, tabId, change) =>
  keep.tabId === tabId && change.title !== undefined && keep.pageTitle !== undefined &&
  change.title !== keep.pageTitle, "title"),
{properties: ["title"]});

// Started anew, this extension owns no keep: its pins go, and so does a keep
// that Firefox cut off by unloading this page while it lasted.
serially(async () => {
  const {started} = await browser.storage.session.get("started");
  if (!started) {
    await browser.storage.session.set({started: true});
    await removeOldPins();
  }
  const keep = await currentKeep();
  if (keep && !ports.has(keep.preface)) {
    await letGo({...keep, ending: null}, "restart");
  } else {
    await saveKeep(keep);
  }
});
