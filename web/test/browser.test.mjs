// The single-file page in Debian's Chromium, opened from disk and from a
// static server on 127.0.0.1: the inputs of cases.mjs given through its file
// input, every download, warning, count and fault held to the native
// programs'. Run from web/test after `npm ci`: node --test browser.test.mjs
// (DBGPARSE_PAGE: the page, by default ROOT/build/web/dbgparse.html).
import assert from "node:assert/strict";
import { createHash } from "node:crypto";
import { execFileSync, spawnSync } from "node:child_process";
import { readFileSync, writeFileSync } from "node:fs";
import { createServer } from "node:http";
import { dirname, join } from "node:path";
import { after, before, test } from "node:test";
import { pathToFileURL } from "node:url";
import { chromium } from "playwright-core";
import { cases, expectations, realistic, root } from "./cases.mjs";

const pagePath = process.env.DBGPARSE_PAGE ?? join(root, "build/web/dbgparse.html");
const native = process.env.DBGPARSE_NATIVE ?? join(root, "build/release");
const all = cases();
const { dir, expected } = await expectations(all);
let browser;
let server;
const served = [];

before(async () => {
  browser = await chromium.launch({
    executablePath: "/usr/bin/chromium",
    args: ["--no-sandbox", "--headless", "--disable-gpu", "--disable-background-networking",
      "--disable-component-update", "--disable-sync", "--no-first-run"],
    // Chromium reads file names by the locale's character set: in a locale
    // that is not UTF-8 it cannot open a chosen file named outside ASCII.
    env: { ...process.env, LC_ALL: "C.UTF-8" },
  });
  const html = readFileSync(pagePath);
  server = createServer((request, response) => {
    served.push(request.url);
    response.writeHead(request.url === "/dbgparse.html" ? 200 : 404, { "content-type": "text/html" });
    response.end(request.url === "/dbgparse.html" ? html : "");
  });
  await new Promise((done) => server.listen(0, "127.0.0.1", done));
});

after(async () => {
  await browser?.close();
  server?.close();
});

// Opens the page with every request it makes recorded.
async function open(url, viewport = { width: 1000, height: 1400 }) {
  const context = await browser.newContext({ viewport, acceptDownloads: true });
  const page = await context.newPage();
  const requests = [];
  page.on("request", (request) => requests.push(request.url()));
  const errors = [];
  page.on("pageerror", (error) => errors.push(String(error)));
  await page.goto(url);
  return { page, requests, errors };
}

// Chooses files through the input and waits for all their results.
async function give(page, paths) {
  const before = await page.locator("#results > li").count();
  await page.setInputFiles("#files", paths);
  await page.waitForFunction(
    (n) => document.querySelectorAll("#results > li").length === n && !document.querySelector('#results > li[data-state="working"]'),
    before + paths.length, { timeout: 120000 });
}

// What the page shows for each file, with the bytes of its download link.
function shown(page) {
  return page.evaluate(async () => {
    const base64 = (bytes) => {
      let text = "";
      for (let k = 0; k < bytes.length; k += 0x8000) text += String.fromCharCode(...bytes.subarray(k, k + 0x8000));
      return btoa(text);
    };
    return Promise.all([...document.querySelectorAll("#results > li")].map(async (item) => {
      const link = item.querySelector("a.download");
      const text = (selector) => item.querySelector(selector)?.textContent ?? null;
      return {
        name: item.dataset.name,
        state: item.dataset.state,
        count: text(".count"),
        warnings: text("pre.warnings"),
        entries: text("pre.entries"),
        fault: text(".fault"),
        leftOut: text("pre.left-out"),
        error: text(".error"),
        download: link?.getAttribute("download") ?? null,
        bytes: link ? base64(new Uint8Array(await (await fetch(link.href)).arrayBuffer())) : null,
      };
    }));
  });
}

function holdToNative(results) {
  assert.equal(results.length, all.length);
  assert.ok(results.some((got) => got.leftOut), "no table with entries a listing leaves out");
  for (const got of results) {
    const want = expected.get(got.name);
    const c = all.find((k) => k.name === got.name);
    assert.equal(got.state, "done", `${got.name}: ${got.error}`);
    const bytes = Buffer.from(got.bytes, "base64");
    if (!c.table) {
      assert.equal(got.download, `${got.name}.qb`);
      assert.ok(bytes.equals(want.table), `${got.name}: the table differs from dbgparse's`);
      assert.deepEqual(got.warnings?.split("\n") ?? [], want.warnings, got.name);
      const entries = Number(execFileSync(join(native, "qbdump"), ["--check", `${dir}/out/${got.name}.qb`], { encoding: "utf8" }).split(" ")[0]);
      assert.equal(got.count, `${entries} ${entries === 1 ? "entry" : "entries"}`, got.name);
    } else {
      const stem = got.name.slice(0, -3);
      assert.equal(got.download, stem.endsWith(".dbg") ? stem : `${stem}.dbg`);
      assert.ok(bytes.equals(want.listing), `${got.name}: the listing differs from qbdump's`);
      const check = got.fault ?? got.count.replace(/^(\d+) entr(y|ies).*/, "$1 entries");
      assert.equal(check, want.check, got.name);
      assert.deepEqual(got.entries?.split("\n") ?? [], want.entries.slice(0, 300), got.name);
      assert.deepEqual(got.leftOut?.split("\n") ?? [], want.leftOut.slice(0, 20), got.name);
      if (want.entries.length > 300) assert.match(got.count, /\(the first 300 shown\)$/);
    }
  }
}

// The page from `url`: the inputs given, the results held to the natives',
// no request beyond the page itself, and a screenshot under the build folder.
async function wholeRun(url, screenshot) {
  const { page, requests, errors } = await open(url);
  await give(page, all.map((c) => join(dir, c.name)));
  holdToNative(await shown(page));
  // A real download of the first table.
  const [download] = await Promise.all([page.waitForEvent("download"), page.locator("a.download").first().click()]);
  const first = all[0];
  assert.equal(download.suggestedFilename(), `${first.name}.qb`);
  assert.ok(readFileSync(await download.path()).equals(expected.get(first.name).table));
  await page.screenshot({ path: join(dirname(pagePath), screenshot) });
  assert.deepEqual(errors, []);
  const outside = requests.filter((r) => r !== url && !r.startsWith("blob:") && !r.startsWith("data:"));
  assert.deepEqual(outside, []);
  await page.context().close();
}

test("opened from disk, the page gives dbgparse's tables and warnings, qbdump's entries, faults and listings", async () => {
  await wholeRun(pathToFileURL(pagePath).href, "dbgparse-file.png");
});

test("served from 127.0.0.1, the page does the same and asks the server for itself alone", async () => {
  served.length = 0;
  await wholeRun(`http://127.0.0.1:${server.address().port}/dbgparse.html`, "dbgparse-http.png");
  assert.deepEqual(served, ["/dbgparse.html"]);
});

test("a 100 MiB file converts in the worker, with progress, the page answering meanwhile", async () => {
  const path = join(dir, "large.dbg");
  writeFileSync(path, realistic(100 << 20));
  execFileSync(join(native, "dbgparse"), [path, `${path}.qb`], { stdio: "ignore" });
  const want = createHash("sha256").update(readFileSync(`${path}.qb`)).digest("hex");
  const { page } = await open(pathToFileURL(pagePath).href);
  await page.evaluate(() => {
    // The longest the page's own thread went without running a timer, and
    // every status text shown.
    window.watch = { gap: 0, statuses: [] };
    let last = performance.now();
    const tick = () => {
      const now = performance.now();
      if (now - last > window.watch.gap) window.watch.at = window.watch.statuses.join(" | ");
      window.watch.gap = Math.max(window.watch.gap, now - last);
      last = now;
      if (document.querySelector('#results > li[data-state="working"]') || !document.querySelector("#results > li")) setTimeout(tick, 10);
    };
    setTimeout(tick, 10);
    new MutationObserver(() => {
      const status = document.querySelector(".status")?.textContent;
      if (status && window.watch.statuses.at(-1) !== status) window.watch.statuses.push(status);
    }).observe(document.body, { subtree: true, childList: true, characterData: true });
  });
  await give(page, [path]);
  const got = await page.evaluate(async () => {
    const link = document.querySelector("a.download");
    const digest = await crypto.subtle.digest("SHA-256", await (await fetch(link.href)).arrayBuffer());
    return { ...window.watch, digest: [...new Uint8Array(digest)].map((b) => b.toString(16).padStart(2, "0")).join("") };
  });
  assert.equal(got.digest, want);
  assert.ok(got.statuses.some((s) => /^reading: \d+%$/.test(s)), got.statuses.join(" | "));
  assert.ok(got.statuses.includes("converting…"), got.statuses.join(" | "));
  assert.ok(got.gap < 500, `the page did not answer for ${got.gap} ms, after ${got.at}`);
  await page.context().close();
});

test("the page works by keyboard and fits a phone's width", async () => {
  const { page } = await open(pathToFileURL(pagePath).href, { width: 360, height: 740 });
  await page.keyboard.press("Tab");
  assert.equal(await page.evaluate(() => document.activeElement.id), "files");
  assert.equal(await page.evaluate(() => document.activeElement.labels[0].id), "drop");
  const dbg = all.find((c) => c.name.startsWith("hostile") && expected.get(c.name).warnings.length > 20);
  const table = all.find((c) => c.table && expected.get(c.name).check.includes("expected"));
  await give(page, [join(dir, dbg.name), join(dir, table.name)]);
  // Every link and result block is reached by Tab, in order.
  const reached = [];
  for (let k = 0; k < 8; k++) {
    await page.keyboard.press("Tab");
    reached.push(await page.evaluate(() => {
      const at = document.activeElement;
      return at.tagName + (at.getAttribute("download") ?? at.getAttribute("aria-label") ?? "");
    }));
  }
  assert.ok(reached.includes(`A${dbg.name}.qb`), reached.join(" | "));
  assert.ok(reached.some((r) => r.startsWith("PRE") && r.includes(`warnings for ${dbg.name}`)), reached.join(" | "));
  const listed = table.name.slice(0, -3);
  assert.ok(reached.includes(`A${listed.endsWith(".dbg") ? listed : `${listed}.dbg`}`), reached.join(" | "));
  const width = await page.evaluate(() => document.documentElement.scrollWidth);
  assert.ok(width <= 360, `the page is ${width} px wide on a 360 px screen`);
  await page.screenshot({ path: join(dirname(pagePath), "dbgparse-phone.png"), fullPage: true });
  await page.context().close();
});

test("files dropped on the page are taken, a NAME.dbg.qb table listed as NAME.dbg", async () => {
  const { page } = await open(pathToFileURL(pagePath).href);
  const dbg = all.find((c) => !c.table && expected.get(c.name).table.length > 100);
  const table = all.find((c) => c.table && !expected.get(c.name).check.includes("expected"));
  const files = [
    { name: dbg.name, bytes: [...dbg.bytes] },
    { name: "names.dbg.qb", bytes: [...table.bytes] },
  ];
  await page.evaluate((given) => {
    const data = new DataTransfer();
    for (const { name, bytes } of given) data.items.add(new File([Uint8Array.from(bytes)], name));
    document.getElementById("drop").dispatchEvent(new DragEvent("drop", { dataTransfer: data, bubbles: true, cancelable: true }));
  }, files);
  await page.waitForFunction(() => document.querySelectorAll('#results > li[data-state="done"]').length === 2);
  const [convertedShown, listedShown] = await shown(page);
  assert.equal(convertedShown.download, `${dbg.name}.qb`);
  assert.ok(Buffer.from(convertedShown.bytes, "base64").equals(expected.get(dbg.name).table));
  assert.equal(listedShown.download, "names.dbg");
  assert.ok(Buffer.from(listedShown.bytes, "base64").equals(expected.get(table.name).listing));
  await page.context().close();
});

// The page's accessibility tree as Chromium gives it to a screen reader:
// each node with its role, name, description and the text below it.
async function accessible(page) {
  const devtools = await page.context().newCDPSession(page);
  const { nodes } = await devtools.send("Accessibility.getFullAXTree");
  await devtools.detach();
  const byId = new Map(nodes.map((node) => [node.nodeId, node]));
  const text = (node) =>
    node.role?.value === "StaticText" ? node.name?.value ?? "" : (node.childIds ?? []).map((id) => text(byId.get(id) ?? {})).join("");
  return nodes.filter((node) => !node.ignored).map((node) => ({
    role: node.role?.value, name: node.name?.value ?? "", description: node.description?.value ?? "", text: text(node),
  }));
}

test("an empty table is marked beside its download, and warnings stand out as faults do, to the eye and to a screen reader", async () => {
  // Whether each table is empty and each file warned about is what the
  // native programs say of it.
  const given = [
    { name: "lf-header.dbg", text: "[Checksums]\n0x2a9d4b1c player_board\n" },
    { name: "empty-input.dbg", text: "" },
    { name: "clean.dbg", text: "[Checksums]\r\n0x2a9d4b1c player_board\r\n" },
    { name: "doubled-blank.dbg", text: "[Checksums]\r\n0x2a9d4b1c  player_board\r\n" },
    { name: "clean-empty.dbg", text: "[Checksums]\r\n" },
  ].map(({ name, text }) => {
    const path = join(dir, name);
    writeFileSync(path, Buffer.from(text, "latin1"));
    const run = spawnSync(join(native, "dbgparse"), [path, `${path}.qb`], { encoding: "utf8" });
    const entries = Number(execFileSync(join(native, "qbdump"), ["--check", `${path}.qb`], { encoding: "utf8" }).split(" ")[0]);
    const warnings = run.stderr.split("\n").filter(Boolean).length;
    return { name, path, empty: entries === 0, warned: warnings > 0, warnings };
  });
  assert.deepEqual(given.map((g) => [g.empty, g.warned]), [[true, true], [true, true], [false, false], [false, true], [true, false]]);
  const { page } = await open(pathToFileURL(pagePath).href);
  // A fault beside them, for the style warnings are held to.
  const broken = all.find((c) => c.table && expected.get(c.name).check.includes("expected"));
  await give(page, [...given.map((g) => g.path), join(dir, broken.name)]);
  const looks = await page.evaluate(() => {
    const style = (at) => at && { color: getComputedStyle(at).color, weight: Number(getComputedStyle(at).fontWeight) };
    return [...document.querySelectorAll("#results > li")].map((item) => {
      const link = item.querySelector("a.download");
      const empty = item.querySelector(".empty");
      return {
        plain: style(item.querySelector(".count")),
        fault: style(item.querySelector(".fault")),
        warningCount: style(item.querySelector(".warning-count")),
        warnings: style(item.querySelector("pre.warnings")),
        empty: empty && { ...style(empty), text: empty.textContent, besideLink: empty.parentElement === link.parentElement },
      };
    });
  });
  const tree = await accessible(page);
  const fault = looks.at(-1).fault;
  assert.ok(fault.weight >= 600 && fault.color !== looks.at(-1).plain.color);
  for (const [k, g] of given.entries()) {
    const got = looks[k];
    const link = tree.find((node) => node.role === "link" && node.name === `Download the table ${g.name}.qb`);
    assert.ok(link, g.name);
    if (g.empty) {
      assert.ok(got.empty?.besideLink, `${g.name}: no mark beside the download`);
      assert.match(got.empty.text, /no entries/);
      assert.ok(got.empty.weight >= 600 && got.empty.color !== got.plain.color, g.name);
      assert.match(link.description, /no entries/, `${g.name}: a screen reader is not told`);
    } else {
      assert.equal(got.empty, null, g.name);
      assert.equal(link.description, "", g.name);
    }
    if (g.warned) {
      assert.ok(got.warningCount && got.warnings, `${g.name}: no warnings shown`);
      for (const shown of [got.warningCount, got.warnings]) assert.notEqual(shown.color, got.plain.color, g.name);
      assert.ok(got.warningCount.weight >= 600, g.name);
    } else {
      assert.equal(got.warningCount, null, g.name);
    }
  }
  // Each warned file's count is a status a screen reader announces.
  const statuses = tree.filter((node) => node.role === "status").map((node) => node.text);
  const counts = given.filter((g) => g.warned).map((g) => `${g.warnings} ${g.warnings === 1 ? "warning" : "warnings"}`);
  assert.deepEqual(statuses, counts);
  await page.context().close();
});

test("warning lines name the file as dbgparse does, its control bytes escaped", async () => {
  // Names that a terminal would act on, and one beyond ASCII; inputs with a
  // warning on a line, one about the whole input, and more than 20.
  const many = Buffer.from(`[Checksums]\r\n${"0x2a9d4b1c name \r\n".repeat(25)}`, "latin1");
  const given = [
    { name: "esc\x1b[31mred.dbg", bytes: many },
    { name: "tab\tand\x7fdel.dbg", bytes: Buffer.alloc(0) },
    { name: "caf\u00e9 \u00fcber.dbg", bytes: Buffer.from("[Checksums]\n0x2a9d4b1c a\n", "latin1") },
  ];
  const { page } = await open(pathToFileURL(pagePath).href);
  const want = [];
  for (const { name, bytes } of given) {
    writeFileSync(join(dir, name), bytes);
    const run = spawnSync(join(native, "dbgparse"), [name, join("out", `${name}.qb`)], { cwd: dir, encoding: "utf8" });
    want.push(run.stderr.split("\n").filter(Boolean));
  }
  assert.ok(want.every((lines) => lines.length > 0) && want[0].length === 21, want.join("\n"));
  await give(page, given.map(({ name }) => join(dir, name)));
  const shownLines = await page.evaluate(() =>
    [...document.querySelectorAll("#results > li")].map((item) => ({ name: item.dataset.name, lines: item.querySelector("pre.warnings")?.textContent.split("\n") })));
  assert.deepEqual(shownLines.map((s) => s.name), given.map((g) => g.name));
  assert.deepEqual(shownLines.map((s) => s.lines), want);
  await page.context().close();
});
