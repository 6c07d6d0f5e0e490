"use strict";
// The floor's page side: a page's window.postMessage({floor: "ask"}) goes to
// the background, with nothing checked and nothing heard back.
window.addEventListener("message", (event) => {
  if (event.source === window && event.data !== null && typeof event.data === "object" && event.data.floor === "ask") {
    browser.runtime.sendMessage({floor: "ask"}).catch(() => {});
  }
});
