"use strict";
// The page's side of Halvane. A page asks with
//   window.postMessage({halvane: "keep", id: "…"}, location.origin)      or {halvane: "let-go"}
// and hears back through a "halvane" event on window, whose detail is
// {outcome, reason, message, id}: one for each request, the id repeated when
// the request had one (a string of at most 64 characters). The page says only
// what it wants: which site asks is the background's to know, from the sender.

// This document's own mark: outcomes meant for another document of the tab
// (one it navigated away from, or to) are not this one's to hear.
const token = Array.from(crypto.getRandomValues(new Uint32Array(4)), (n) => n.toString(36)).join("");

// One user input, one request: as Firefox lets a click open one popup, a click,
// a tap or a key press lets the page ask once. Listened for on window in the
// capture phase from document_start, so no listener of the page's comes first.
// It is the input that activated the page, so it counts as long as Firefox's
// activation lasts (5 s unless its dom.user_activation.transient.timeout says
// otherwise), and Escape, which activates nothing in browsers, never counts.
const ACTIVATION_MS = 5000;
let gestureAt = null;
const onInput = (event) => {
  if (event.isTrusted && !event.repeat && event.key !== "Escape") {
    gestureAt = performance.now();
  }
};
window.addEventListener("pointerdown", onInput, {capture: true});
window.addEventListener("keydown", onInput, {capture: true});

// Even with inputs, a page asks at most this often.
const KEEPS_PER_SECOND = 3;
const keepTimes = [];

// The requests on their way to the background, by their number here: whether
// it is a keep, and the page's ids that wait for its outcome. A kept request
// stays, so that the end of its keep carries its id too.
let serial = 0;
const waiting = new Map();
// The document was hidden with requests of its own, and told the background
// they went with it. If Firefox shows it again from its back-forward cache,
// they are over: the background's word of it came while it was away.
let hidden = false;
// This document's let-go on its way: another one meanwhile, with no keep
// request in between, shares its outcome, so that no page can flood the
// background with them.
let letGoOnItsWay = null;

function tellPage(outcome, reason, message, id) {
  const detail = {outcome, reason: String(reason || ""), message: String(message || "")};
  if (id !== undefined) {
    detail.id = id;
  }
  window.dispatchEvent(new CustomEvent("halvane", {detail: cloneInto(detail, window)}));
}

function answer(n, outcome, reason, message) {
  if (!waiting.has(n)) {
    return;
  }
  const {ids} = waiting.get(n);
  if (outcome !== "kept") {
    waiting.delete(n);
  }
  if (n === letGoOnItsWay) {
    letGoOnItsWay = null;
  }
  for (const id of ids) {
    tellPage(outcome, reason, message, id);
  }
}

function forward(request, id, activated) {
  const n = ++serial;
  waiting.set(n, {keep: request === "keep", ids: [id]});
  browser.runtime.sendMessage({halvane: request, token, n, activated})
    .catch(() => answer(n, "error", "failed"));
  return n;
}

// Why this keep request may not go on, or null. Every request uses up the
// input before it: one that came after it allows the next.
function refusal() {
  // A click or a key press in the page, none asked with yet, whose activation
  // lasts. Focus in a frame says the last input went to the frame: it
  // activates the page as well, but is no input in the page.
  const active = navigator.userActivation ? navigator.userActivation.isActive === true : false;
  const fresh = gestureAt !== null && performance.now() - gestureAt <= ACTIVATION_MS && active && !focusInFrame();
  gestureAt = null;
  if (!fresh) {
    return "no-gesture";
  }
  const now = performance.now();
  while (keepTimes.length && now - keepTimes[0] > 1000) {
    keepTimes.shift();
  }
  if (keepTimes.length >= KEEPS_PER_SECOND) {
    return "too-many";
  }
  keepTimes.push(now);
  return null;
}

function focusInFrame() {
  const element = document.activeElement;
  return element !== null && ["IFRAME", "FRAME", "OBJECT", "EMBED"].includes(element.tagName);
}

window.addEventListener("message", (event) => {
  // Only the page's own scripts: a frame posting to its parent is not the page.
  if (event.source !== window || window !== window.top || event.data === null || typeof event.data !== "object") {
    return;
  }
  const request = event.data.halvane;
  const id = typeof event.data.id === "string" && event.data.id.length <= 64 ? event.data.id : undefined;
  if (request === "keep") {
    const why = refusal();
    if (why) {
      tellPage("refused", why, "", id);
    } else {
      forward("keep", id, true);
      // A let-go after this keep must reach the background to take it back.
      letGoOnItsWay = null;
    }
  } else if (request === "let-go") {
    // A document that has asked for nothing has nothing to let go of: it is
    // told so here, so that only a keep request, which needs an input, can
    // send a let-go on to the background.
    if (letGoOnItsWay !== null) {
      waiting.get(letGoOnItsWay).ids.push(id);
    } else if (![...waiting.values()].some((entry) => entry.keep)) {
      // Answered in a task of its own, which those that follow it share, as
      // they would one on its way: a flood of them costs the page's process
      // no more than one answer.
      const n = ++serial;
      waiting.set(n, {keep: false, ids: [id]});
      letGoOnItsWay = n;
      setTimeout(() => answer(n, "released", "not-kept"), 0);
    } else {
      letGoOnItsWay = forward("let-go", id, false);
    }
  }
});

// A document that goes (a reload, a link, history, its tab closed) takes its
// keep, or its requests, with it: nothing of it passes to the next document.
// Only Firefox's own pagehide, and once for what was asked before it.
window.addEventListener("pagehide", (event) => {
  if (event.isTrusted && waiting.size > 0 && !hidden) {
    hidden = true;
    browser.runtime.sendMessage({halvane: "gone", token}).catch(() => {});
  }
}, {capture: true});
window.addEventListener("pageshow", (event) => {
  if (event.isTrusted && hidden) {
    hidden = false;
    for (const n of [...waiting.keys()]) {
      answer(n, "released", "tab");
    }
  }
}, {capture: true});

browser.runtime.onMessage.addListener((message) => {
  if (message === null || typeof message !== "object" || message.token !== token ||
      typeof message.outcome !== "string") {
    return;
  }
  answer(message.n, message.outcome, message.reason, message.message);
});
