"use strict";
// The page's side of Halvane. A page asks with
//   window.postMessage({halvane: "keep"}, location.origin)      or {halvane: "let-go"}
// and hears back through a "halvane" event on window, whose detail is
// {outcome: "kept" | "refused" | "released" | "error", reason: "..."}.
// The page says only what it wants: which site asks is the background's to
// know, from the tab itself.

window.addEventListener("message", (event) => {
  // Only the page's own scripts: a frame posting to its parent is not the page.
  if (event.source !== window || event.data === null || typeof event.data !== "object") {
    return;
  }
  const request = event.data.halvane;
  if (request === "keep" || request === "let-go") {
    browser.runtime.sendMessage({halvane: request}).catch(() => {});
  }
});

browser.runtime.onMessage.addListener((message) => {
  if (message === null || typeof message !== "object" || typeof message.outcome !== "string") {
    return;
  }
  const detail = cloneInto({outcome: message.outcome, reason: String(message.reason || "")}, window);
  window.dispatchEvent(new CustomEvent("halvane", {detail}));
});
