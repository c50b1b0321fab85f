// node bench/pdfjs_page_time.mjs FILE.pdf PAGE RUNS: the median CPU time
// (user and system, in milliseconds) pdf.js takes to open FILE.pdf and draw
// page PAGE on a canvas (at 72 dpi), each run with a new document, so that
// nothing it decoded in an earlier run is reused; CPU time, for the machine
// may be busy with other work. pdf.js comes from tests/interop/pdfjs (npm ci
// there).
import fs from "node:fs";
import path from "node:path";
import { fileURLToPath } from "node:url";

const here = path.dirname(fileURLToPath(import.meta.url));
const dist = path.join(here, "..", "tests", "interop", "pdfjs", "node_modules", "pdfjs-dist");
const pdfjs = await import(path.join(dist, "legacy", "build", "pdf.mjs"));
const wasmUrl = path.join(dist, "wasm") + path.sep;

const [file, pageText, runsText] = process.argv.slice(2);
const data = fs.readFileSync(file);
const times = [];
for (let run = 0; run < Number(runsText || 3); run++) {
  const start = process.cpuUsage();
  const doc = await pdfjs.getDocument({ data: new Uint8Array(data), wasmUrl, verbosity: 0 }).promise;
  const page = await doc.getPage(Number(pageText));
  const viewport = page.getViewport({ scale: 1 });
  const canvas = doc.canvasFactory.create(viewport.width, viewport.height);
  await page.render({ canvasContext: canvas.context, viewport }).promise;
  const used = process.cpuUsage(start);
  times.push((used.user + used.system) / 1000);
  await doc.destroy();
}
times.sort((a, b) => a - b);
console.log(times[times.length >> 1].toFixed(0));
