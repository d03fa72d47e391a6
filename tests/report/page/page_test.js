#!/usr/bin/env node
// updater-report's HTML page in headless Chromium: loads it, filters by outcome, message and
// script, searches, sorts, reads the counts against the JSON report, reads it with scripts off,
// and takes a screenshot at desktop and at phone width. Fails on any console error, any
// exception and any request that leaves the file. Talks to Chromium over its DevTools pipe
// (--remote-debugging-pipe), so it needs nothing but node.
//
// usage: page_test.js CHROMIUM PAGE.html REPORT.json OUTPUT_FOLDER
"use strict";
const { spawn } = require("child_process");
const fs = require("fs");
const path = require("path");
const { pathToFileURL } = require("url");

const [chromium, pagePath, jsonPath, outFolder] = process.argv.slice(2);
if (!outFolder) {
  console.error("usage: page_test.js CHROMIUM PAGE.html REPORT.json OUTPUT_FOLDER");
  process.exit(2);
}
const pageUrl = pathToFileURL(path.resolve(pagePath)).href;
const report = JSON.parse(fs.readFileSync(jsonPath, "utf8"));
fs.mkdirSync(outFolder, { recursive: true });
const profile = fs.mkdtempSync(path.join(path.resolve(outFolder), "profile-"));
const problems = [];
let checks = 0;

const browser = spawn(chromium, [
  "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
  "--disable-background-networking", "--disable-component-update", "--disable-sync",
  "--disable-extensions", "--disable-default-apps", "--mute-audio", "--hide-scrollbars",
  "--disable-breakpad", "--disable-crash-reporter",
  "--user-data-dir=" + profile, "--remote-debugging-pipe", "about:blank",
], { stdio: ["ignore", "ignore", "pipe", "pipe", "pipe"] });
let browserLog = "";
browser.stderr.on("data", (data) => { browserLog += data; });

// Closes Chromium, waits for it to end, and removes its profile.
let closing = false;
let finishing = false;
function finish(code) {
  if (finishing) return;
  finishing = true;
  clearTimeout(watchdog);
  const removeAndExit = () => {
    try {
      fs.rmSync(profile, { recursive: true, force: true, maxRetries: 20, retryDelay: 50 });
    } catch (error) {
      console.error("page_test: " + error.message);
    }
    process.exit(code);
  };
  if (browser.exitCode !== null || browser.signalCode !== null) return removeAndExit();
  closing = true;
  browser.on("exit", removeAndExit);
  setTimeout(() => browser.kill("SIGKILL"), 5000).unref();
  try {
    browser.stdio[3].write(JSON.stringify({ id: 0, method: "Browser.close" }) + "\0");
  } catch (error) {
    browser.kill("SIGKILL");
  }
}
const watchdog = setTimeout(() => {
  console.error("page_test: no answer from Chromium within 90 s\n" + browserLog.slice(-2000));
  finish(1);
}, 90000);
browser.on("exit", (code, signal) => {
  if (closing) return;
  console.error("page_test: Chromium ended (" + (signal || code) + ")\n" + browserLog.slice(-2000));
  finish(1);
});

// The DevTools protocol: JSON messages ended by NUL, in on fd 3, out on fd 4.
let nextId = 1;
const waiting = new Map();
const listeners = [];
let pending = "";
browser.stdio[4].on("data", (chunk) => {
  pending += chunk.toString("utf8");
  let end;
  while ((end = pending.indexOf("\0")) !== -1) {
    const message = JSON.parse(pending.slice(0, end));
    pending = pending.slice(end + 1);
    if (message.id !== undefined && waiting.has(message.id)) {
      const { resolve, reject, method } = waiting.get(message.id);
      waiting.delete(message.id);
      if (message.error) reject(new Error(method + ": " + JSON.stringify(message.error)));
      else resolve(message.result);
    } else if (message.method) {
      for (const listener of listeners.slice()) listener(message);
    }
  }
});
function send(method, params = {}, sessionId) {
  const id = nextId++;
  const message = { id, method, params };
  if (sessionId) message.sessionId = sessionId;
  browser.stdio[3].write(JSON.stringify(message) + "\0");
  return new Promise((resolve, reject) => waiting.set(id, { resolve, reject, method }));
}
function once(method) {
  return new Promise((resolve) => {
    const listener = (message) => {
      if (message.method !== method) return;
      listeners.splice(listeners.indexOf(listener), 1);
      resolve(message.params);
    };
    listeners.push(listener);
  });
}

// Every console error, exception, error log entry and request that is not the page itself.
listeners.push((message) => {
  const p = message.params;
  if (message.method === "Runtime.consoleAPICalled" && (p.type === "error" || p.type === "assert")) {
    problems.push("console " + p.type + ": " + p.args.map((a) => a.value || a.description).join(" "));
  } else if (message.method === "Runtime.exceptionThrown") {
    problems.push("exception: " + JSON.stringify(p.exceptionDetails));
  } else if (message.method === "Log.entryAdded" && p.entry.level === "error") {
    problems.push("log error: " + p.entry.text + " " + (p.entry.url || ""));
  } else if (message.method === "Network.requestWillBeSent" && p.request.url !== pageUrl) {
    problems.push("request leaving the file: " + p.request.url);
  } else if (message.method === "Network.loadingFailed" && !p.canceled) {
    problems.push("a request failed: " + p.errorText + (p.blockedReason ? " " + p.blockedReason : ""));
  }
});

function check(condition, what) {
  ++checks;
  if (!condition) problems.push("check failed: " + what);
}

async function main() {
  // The first tab, once Chromium has made it.
  let target;
  for (let tries = 0; !target && tries < 100; ++tries) {
    if (tries) await new Promise((resolve) => setTimeout(resolve, 100));
    const { targetInfos } = await send("Target.getTargets");
    target = targetInfos.find((info) => info.type === "page");
  }
  if (!target) throw new Error("Chromium opened no tab");
  const { sessionId } = await send("Target.attachToTarget", { targetId: target.targetId, flatten: true });
  const page = (method, params) => send(method, params, sessionId);
  const evaluate = async (expression) => {
    const { result, exceptionDetails } = await page("Runtime.evaluate", {
      expression, returnByValue: true, awaitPromise: true,
    });
    if (exceptionDetails) throw new Error(expression + ": " + JSON.stringify(exceptionDetails));
    return result.value;
  };
  for (const domain of ["Page", "Runtime", "Log", "Network"]) await page(domain + ".enable");
  const load = async (width, height, mobile) => {
    await page("Emulation.setDeviceMetricsOverride", {
      width, height, deviceScaleFactor: mobile ? 2 : 1, mobile,
    });
    const loaded = once("Page.loadEventFired");
    await page("Page.navigate", { url: pageUrl });
    await loaded;
  };
  // The top of the page, down to `height` CSS pixels: the summary, the chart, the breakdowns
  // and the first rows of the table.
  const shot = async (name, width, height) => {
    const tall = await evaluate("document.documentElement.scrollHeight");
    const { data } = await page("Page.captureScreenshot", {
      format: "png", captureBeyondViewport: true,
      clip: { x: 0, y: 0, width, height: Math.min(tall, height), scale: 1 },
    });
    fs.writeFileSync(path.join(outFolder, name), Buffer.from(data, "base64"));
  };
  const shown = () => evaluate("Number(document.getElementById('shown').dataset.count)");
  const choose = (id, value) => evaluate(`(() => { const s = document.getElementById('${id}');
      s.value = ${JSON.stringify(value)}; s.dispatchEvent(new Event('change')); return s.value; })()`);

  // Desktop width: the counts, each filter, the search and the sorting.
  await load(1280, 1000, false);
  const computers = report.computers;
  const total = computers.length;
  check(await evaluate("!document.getElementById('controls').hidden"), "the controls show");
  check(await evaluate("document.querySelectorAll('#computers tbody tr').length") === total,
        "one row per computer");
  check(await shown() === total, "every computer shown at first");
  for (const [outcome, count] of Object.entries(report.totals.computers_by_outcome)) {
    if (await choose("filter-outcome", outcome) !== outcome) {
      check(count === 0, `outcome ${outcome} is offered`);
      continue;
    }
    const seen = await shown();
    check(seen === count, `outcome ${outcome}: ${count} computers, ${seen} shown`);
  }
  await choose("filter-outcome", "");
  const messages = {};
  for (const c of computers) if (c.message !== null) messages[c.message] = (messages[c.message] || 0) + 1;
  check(Object.keys(messages).length >= 2, "the fleet has computers stopped by two messages");
  for (const [message, count] of Object.entries(messages)) {
    check(await choose("filter-message", message) === message, `message ${message} is offered`);
    check(await shown() === count, `message ${message}: ${count} computers`);
  }
  await choose("filter-message", "");
  const scripts = await evaluate(`Array.from(document.querySelectorAll('#filter-script option'))
      .filter((o) => o.value !== '').map((o) => o.value)`);
  check(scripts.length >= 3, "three scripts are offered");
  let byScript = 0;
  for (const value of scripts) {
    await choose("filter-script", value);
    byScript += await shown();
  }
  const noRun = report.totals.computers_by_outcome.no_run || 0;
  check(noRun >= 1, "the fleet has expected computers that never reported");
  check(byScript + noRun === total, "the scripts' computers and those with no run add up to all");
  await choose("filter-script", "");

  // A breakdown row filters the table.
  const failedRow = "document.querySelector('tr[data-filter=\"o:failed\"]')";
  await evaluate(failedRow + ".click()");
  check(await shown() === report.totals.computers_by_outcome.failed, "the failed row filters");
  await evaluate("document.getElementById('show-all').click()");
  check(await shown() === total, "show all");

  // The search: a computer's name, then words that match nothing.
  const name = computers[computers.length - 1].computer;
  await evaluate(`(() => { const s = document.getElementById('search');
      s.value = ${JSON.stringify(name)}; s.dispatchEvent(new Event('input')); })()`);
  const found = await evaluate(`Array.from(document.querySelectorAll('#computers tbody tr'))
      .filter((r) => !r.hidden).map((r) => r.cells[0].textContent)`);
  check(found.includes(name) && found.length >= 1 && found.length < total, "the search finds " + name);
  await evaluate(`(() => { const s = document.getElementById('search');
      s.value = 'no such computer anywhere'; s.dispatchEvent(new Event('input')); })()`);
  check(await shown() === 0, "a search that matches nothing shows no row");
  await evaluate("document.getElementById('show-all').click()");

  // Sorting by computer (digits as numbers), both ways, and by time.
  const column = (i) => evaluate(`Array.from(document.querySelectorAll('#computers tbody tr'))
      .map((r) => r.cells[${i}].getAttribute('data-k') ?? r.cells[${i}].textContent)`);
  const collator = new Intl.Collator(undefined, { numeric: true, sensitivity: "base" });
  await evaluate("document.querySelector('#computers th').click()");
  let names = await column(0);
  check(names.every((n, i) => i === 0 || collator.compare(names[i - 1], n) <= 0), "sorted by name");
  check(collator.compare("PC-9", "PC-10") < 0 && names.indexOf("PC-9") < names.indexOf("PC-10"),
        "PC-9 before PC-10");
  await evaluate("document.querySelector('#computers th').click()");
  names = await column(0);
  check(names.every((n, i) => i === 0 || collator.compare(names[i - 1], n) >= 0), "sorted back");
  await evaluate("document.querySelectorAll('#computers th')[2].click()");
  const times = (await column(2)).map(Number);
  check(times.every((t, i) => i === 0 || times[i - 1] <= t), "sorted by the time of the last run");
  check(await evaluate("document.querySelectorAll('#computers th')[2].getAttribute('aria-sort')") ===
        "ascending", "the sorted column says so");
  check(await evaluate("document.querySelectorAll('svg rect').length") > 0, "the chart has bars");
  check(await evaluate("document.documentElement.scrollWidth <= window.innerWidth"),
        "no sideways scrolling at desktop width");

  await load(1280, 1000, false);
  await shot("report-desktop.png", 1280, 2000);

  // Phone width: no sideways scrolling, text of a readable size.
  await load(390, 844, true);
  const [inner, scroll] = await evaluate("[window.innerWidth, document.documentElement.scrollWidth]");
  check(inner === 390, `the viewport is the phone's width (${inner} px)`);
  check(scroll <= inner, `no sideways scrolling at phone width (${scroll} px wide)`);
  check(await evaluate("parseFloat(getComputedStyle(document.querySelector('#computers td')).fontSize)") >= 12,
        "text of at least 12 px at phone width");
  await shot("report-phone.png", 390, 2600);

  // With scripts off: the whole table, no controls.
  await page("Emulation.setScriptExecutionDisabled", { value: true });
  await load(1280, 1000, false);
  check(await evaluate("document.querySelectorAll('#computers tbody tr:not([hidden])').length") === total,
        "scripts off: every row");
  check(await evaluate("document.getElementById('controls').hidden"), "scripts off: no controls");
}

main().then(() => {
  if (problems.length) {
    console.error("page_test: " + problems.length + " problem(s):\n  " + problems.join("\n  "));
    finish(1);
  } else {
    console.log("page_test: " + checks + " checks passed; screenshots in " + outFolder);
    finish(0);
  }
}, (error) => {
  console.error("page_test: " + error.stack + (problems.length ? "\n  " + problems.join("\n  ") : ""));
  finish(1);
});
