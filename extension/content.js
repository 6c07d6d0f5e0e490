"use strict";
// The page's side of Halvane. A page asks with
//   window.postMessage({halvane: "keep"}, location.origin)      or {halvane: "let-go"}
// and hears back through a "halvane" event on window, whose detail is
// {outcome, reason, message}. The page says only what it wants: which site
// asks is the background's to know, from the sender itself.

// This document's own mark: outcomes meant for another document of the tab
// (one it navigated away from, or to) are not this one's to hear.
const token = Array.from(crypto.getRandomValues(new Uint32Array(4)), (n) => n.toString(36)).join("");

window.addEventListener("message", (event) => {
  // Only the page's own scripts: a frame posting to its parent is not the page.
  if (event.source !== window || window !== window.top || event.data === null || typeof event.data !== "object") {
    return;
  }
  const request = event.data.halvane;
  if (request === "keep" || request === "let-go") {
    // A click or a key press in the last few seconds: without one a page
    // cannot raise Halvane's prompt, as it cannot raise Firefox's own.
    const activated = navigator.userActivation ? navigator.userActivation.isActive === true : false;
    browser.runtime.sendMessage({halvane: request, token, activated}).catch(() => {});
  }
});

browser.runtime.onMessage.addListener((message) => {
  if (message === null || typeof message !== "object" || message.token !== token ||
      typeof message.outcome !== "string") {
    return;
  }
  const detail = cloneInto({
    outcome: message.outcome, reason: String(message.reason || ""), message: String(message.message || ""),
  }, window);
  window.dispatchEvent(new CustomEvent("halvane", {detail}));
});
