"use strict";
// The registrable domain the extension counts dismissals by, from the list it
// ships (extension/public_suffixes.js), run in Node as Firefox runs it.
// Usage: node domains_test.js REPO
const fs = require("fs");
const vm = require("vm");

const repo = process.argv[2];
const context = vm.createContext({});
for (const file of ["public_suffixes.js", "domains.js"]) {
  vm.runInContext(fs.readFileSync(`${repo}/extension/${file}`, "utf8"), context, {filename: file});
}
const registrableDomain = vm.runInContext("registrableDomain", context);

const CASES = [
  // an ordinary suffix, and one of two labels
  ["example.com", "example.com"],
  ["a1.evil.example.com", "example.com"],
  ["www.bbc.co.uk", "bbc.co.uk"],
  ["co.uk", "co.uk"],
  // a shared suffix of the list's private part: each person's site is a domain of its own
  ["alice.github.io", "alice.github.io"],
  ["a.b.alice.github.io", "alice.github.io"],
  ["github.io", "github.io"],
  // a wildcard (*.ck) and its exception (!www.ck)
  ["shop.foo.ck", "shop.foo.ck"],
  ["a.shop.foo.ck", "shop.foo.ck"],
  ["foo.ck", "foo.ck"],
  ["www.ck", "www.ck"],
  ["a.b.www.ck", "www.ck"],
  // a wildcard under two labels (*.kawasaki.jp) and its exception (!city.kawasaki.jp)
  ["a.b.kawasaki.jp", "a.b.kawasaki.jp"],
  ["x.a.b.kawasaki.jp", "a.b.kawasaki.jp"],
  ["city.kawasaki.jp", "city.kawasaki.jp"],
  ["www.city.kawasaki.jp", "city.kawasaki.jp"],
  // names the list does not know: the last label is the suffix
  ["a1.evil.localhost", "evil.localhost"],
  ["localhost", "localhost"],
  ["evil.test", "evil.test"],
  ["a.evil.test", "evil.test"],
  ["intranet", "intranet"],
  // internationalised names as a URL gives them: .рф is xn--p1ai
  ["xn--d1acufc.xn--p1ai", "xn--d1acufc.xn--p1ai"],
  ["www.xn--d1acufc.xn--p1ai", "xn--d1acufc.xn--p1ai"],
  // addresses stand for themselves
  ["127.0.0.1", "127.0.0.1"],
  ["192.168.1.20", "192.168.1.20"],
  ["::1", "::1"],
];

let failed = 0;
for (const [host, expected] of CASES) {
  const got = registrableDomain(host);
  if (got !== expected) {
    console.log(`${host}: ${got}, not ${expected}`);
    failed++;
  }
}
console.log(`${CASES.length - failed} of ${CASES.length} host names give their domain`);
process.exit(failed ? 1 : 0);
