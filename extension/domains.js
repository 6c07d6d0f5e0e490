"use strict";
// The registrable domain of a host name, as browsers group sites: the public
// suffix the Public Suffix List gives (public_suffixes.js) and one label more.
// Subdomains of one domain share it, so that a page cannot take a fresh count
// of dismissals by moving to another of its own names; two people's sites under
// a shared suffix (github.io, say) do not share it.

const SUFFIX_NAMES = new Set(PUBLIC_SUFFIXES.names.split(" "));
const SUFFIX_WILDCARDS = new Set(PUBLIC_SUFFIXES.wildcards.split(" "));
const SUFFIX_EXCEPTIONS = new Set(PUBLIC_SUFFIXES.exceptions.split(" "));
const IPV4 = /^\d+(\.\d+){3}$/;

// How many of the name's labels, counted from the right, its public suffix
// has. An exception rule that matches prevails (the suffix is the rule but
// its first label); otherwise the longest rule that matches; with none, the
// last label.
function suffixLabels(labels) {
  const tail = (i) => labels.slice(i).join(".");
  for (let i = 0; i < labels.length; i++) {
    if (SUFFIX_EXCEPTIONS.has(tail(i))) {
      return labels.length - i - 1;
    }
  }
  for (let i = 0; i < labels.length; i++) {
    if (SUFFIX_NAMES.has(tail(i)) || (i + 1 < labels.length && SUFFIX_WILDCARDS.has(tail(i + 1)))) {
      return labels.length - i;
    }
  }
  return 1;
}

// The domain a host name belongs to. An IP address, and a name that is a
// public suffix itself (localhost, github.io), stand for themselves.
function registrableDomain(host) {
  if (IPV4.test(host) || host.includes(":")) {
    return host;
  }
  const labels = host.split(".");
  const suffix = suffixLabels(labels);
  return suffix >= labels.length ? host : labels.slice(labels.length - suffix - 1).join(".");
}
