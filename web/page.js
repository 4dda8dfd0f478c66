// The page: hands each chosen or dropped file to the worker and shows what it
// sends back, with download links made from Blob URLs.
(() => {
  const source = document.getElementById("worker-source").textContent;
  const worker = new Worker(URL.createObjectURL(new Blob([source], { type: "text/javascript" })));
  const results = document.getElementById("results");
  const pending = new Map();
  let nextId = 0;

  // An element with its properties ("aria-*" ones as attributes) and children.
  const element = (tag, properties = {}, ...children) => {
    const made = document.createElement(tag);
    for (const [key, value] of Object.entries(properties)) {
      if (key.startsWith("aria-")) made.setAttribute(key, value);
      else made[key] = value;
    }
    made.append(...children);
    return made;
  };
  const count = (n, one, many) => `${n} ${n === 1 ? one : many}`;
  const download = (blob, name, label) =>
    element("a", { href: URL.createObjectURL(blob), download: name, className: "download" }, label);

  // t.qb gives t.dbg, names.dbg.qb gives names.dbg.
  function listingName(name) {
    const stem = name.slice(0, -".qb".length);
    return /\.dbg$/i.test(stem) ? stem : `${stem}.dbg`;
  }

  function showDbg(item, name, data) {
    item.append(element("p", { className: "count" }, count(data.count, "entry", "entries")));
    // The warnings as dbgparse prints them on its standard error.
    const { lines } = data;
    if (lines.length > 0) {
      // Told as a status, as a fault is told as an alert.
      item.append(
        element("p", { className: "warning-count", role: "status" }, count(data.warningCount, "warning", "warnings")),
        element("pre", { className: "warnings", tabIndex: 0, "aria-label": `warnings for ${name}` }, lines.join("\n")),
      );
    }
    const link = download(data.table, `${name}.qb`, `Download the table ${name}.qb`);
    const offered = element("p", {}, link);
    if (data.count === 0) {
      // A table without entries (00 00 alone) is rarely what was meant:
      // said beside its link, and read out with the link itself.
      const note = element("strong", { className: "empty", id: `empty-${data.id}` }, "empty table: no entries");
      link.setAttribute("aria-describedby", note.id);
      offered.append(" ", note);
    }
    item.append(offered);
  }

  function showTable(item, name, data) {
    const shown = data.lines.length < data.count ? ` (the first ${data.lines.length} shown)` : "";
    item.append(element("p", { className: "count" }, count(data.count, "entry", "entries") + shown));
    if (data.lines.length > 0) {
      item.append(element("pre", { className: "entries", tabIndex: 0, "aria-label": `entries of ${name}` }, data.lines.join("\n")));
    }
    if (data.fault) {
      item.append(element("p", { className: "fault", role: "alert" }, `byte ${data.fault.offset}: expected ${data.fault.reason}`));
    }
    if (data.leftOutCount > 0) {
      // As qbdump tells them on its standard error.
      const lines = data.leftOut.map(({ line }) => line);
      item.append(
        element("p", { className: "left-out-count" }, `${count(data.leftOutCount, "entry", "entries")} that the listing leaves out` +
          (data.leftOutCount > lines.length ? ` (the first ${lines.length} shown)` : "")),
        element("pre", { className: "left-out", tabIndex: 0, "aria-label": `entries the listing of ${name} leaves out` }, lines.join("\n")),
      );
    }
    const label = data.fault ? "Download the listing of the entries before the fault" : "Download the listing";
    item.append(element("p", {}, download(data.listing, listingName(name), `${label}, ${listingName(name)}`)));
  }

  worker.onmessage = ({ data }) => {
    const job = pending.get(data.id);
    if (!job) return;
    if (data.progress) {
      const { stage, done, total } = data.progress;
      job.status.textContent = done === undefined ? `${stage}…` : `${stage}: ${Math.floor((done * 100) / Math.max(total, 1))}%`;
      if (done === undefined) job.progress.removeAttribute("value");
      else job.progress.value = total > 0 ? done / total : 1;
      return;
    }
    pending.delete(data.id);
    job.progress.remove();
    job.status.remove();
    job.item.setAttribute("aria-busy", "false");
    if (data.error) {
      job.item.append(element("p", { className: "error", role: "alert" }, `${job.name}: ${data.error}`));
      job.item.dataset.state = "error";
      return;
    }
    (data.kind === "qb" ? showTable : showDbg)(job.item, job.name, data);
    job.item.dataset.state = "done";
  };

  function add(files) {
    for (const file of files) {
      const id = nextId++;
      const isTable = /\.qb$/i.test(file.name);
      const status = element("span", { className: "status" }, "waiting…");
      const progress = element("progress", { max: 1, "aria-label": `progress of ${file.name}` });
      const heading = element("h2", {}, `${file.name} (${isTable ? "QB table" : "DBG file"})`);
      const item = element("li", { className: isTable ? "table" : "dbg" }, heading, progress, status);
      item.dataset.name = file.name;
      item.dataset.state = "working";
      item.setAttribute("aria-busy", "true");
      results.append(item);
      pending.set(id, { item, name: file.name, status, progress });
      worker.postMessage({ id, file, isTable });
    }
  }

  const input = document.getElementById("files");
  input.addEventListener("change", () => {
    add(input.files);
    input.value = "";
  });
  const drop = document.getElementById("drop");
  drop.addEventListener("dragover", (event) => {
    event.preventDefault();
    drop.classList.add("over");
  });
  drop.addEventListener("dragleave", () => drop.classList.remove("over"));
  // Files dropped anywhere on the page, not only on the zone, are taken
  // rather than opened by the browser.
  window.addEventListener("dragover", (event) => event.preventDefault());
  window.addEventListener("drop", (event) => {
    event.preventDefault();
    drop.classList.remove("over");
    add(event.dataTransfer.files);
  });
})();
