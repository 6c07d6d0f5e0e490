"use strict";
// The floor's background: each request starts the floor host at once. Its port
// is held until the host ends (its dialog closed), as Halvane's is.
const ports = new Set();

browser.runtime.onMessage.addListener((message) => {
  if (message === null || typeof message !== "object" || message.floor !== "ask") {
    return undefined;
  }
  const port = browser.runtime.connectNative("org.marrowin.halvane_floor");
  ports.add(port);
  port.onDisconnect.addListener(() => ports.delete(port));
  port.postMessage({floor: "ask"});
  return undefined;
});
