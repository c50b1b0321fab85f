// Reads the first image of page 1 of each PDF named on the command line with
// pdf.js (its JBIG2 decoder is PDFium's, compiled to WebAssembly) and writes
// NAME.pdfjs.pbm beside it, black = 1, and NAME.pdfjs.txt with what pdf.js
// reported while doing so. With --all-pages first, the first image of every
// page N goes to NAME.pdfjs.N.pbm. One process reads many files: starting
// pdf.js costs far more than decoding a page.
import fs from "node:fs";
import path from "node:path";
import { fileURLToPath } from "node:url";

const here = path.dirname(fileURLToPath(import.meta.url));
const dist = path.join(here, "node_modules", "pdfjs-dist");
const pdfjs = await import(path.join(dist, "legacy", "build", "pdf.mjs"));
const wasmUrl = path.join(dist, "wasm") + path.sep;

// pdf.js reports through console.log ("Warning: ..."); keep it per file.
let messages = [];
for (const name of ["log", "warn", "error", "info"]) {
  console[name] = (...args) => messages.push(args.join(" "));
}

// The image as PBM rows, black = 1, from pdf.js's decoded image data.
function ToPbm(img) {
  const { width, height, kind, data } = img;
  const rowBytes = (width + 7) >> 3;
  const out = Buffer.alloc(rowBytes * height);
  if (kind === pdfjs.ImageKind.GRAYSCALE_1BPP) {
    // 1 is white here (DeviceGray), and rows are padded to whole bytes.
    for (let i = 0; i < out.length; i++) out[i] = ~data[i] & 0xff;
  } else {
    const channels = kind === pdfjs.ImageKind.RGB_24BPP ? 3 : 4;
    for (let y = 0; y < height; y++)
      for (let x = 0; x < width; x++)
        if (data[(y * width + x) * channels] < 128) out[y * rowBytes + (x >> 3)] |= 0x80 >> (x & 7);
  }
  return Buffer.concat([Buffer.from(`P4\n${width} ${height}\n`), out]);
}

// The first image drawn on each page (all pages, or only the first).
async function PageImages(file, allPages) {
  const doc = await pdfjs.getDocument({ data: new Uint8Array(fs.readFileSync(file)), wasmUrl, verbosity: 1 }).promise;
  try {
    const images = [];
    const last = allPages ? doc.numPages : 1;
    for (let n = 1; n <= last; n++) {
      const page = await doc.getPage(n);
      const ops = await page.getOperatorList();
      let img = null;
      for (let i = 0; i < ops.fnArray.length && !img; i++) {
        if (ops.fnArray[i] !== pdfjs.OPS.paintImageXObject) continue;
        const id = ops.argsArray[i][0];
        img = await new Promise((resolve) => page.objs.get(id, resolve));
      }
      images.push(img);
    }
    return images;
  } finally {
    await doc.destroy();
  }
}

const allPages = process.argv[2] === "--all-pages";
const files = process.argv.slice(allPages ? 3 : 2);
let fallbacks = 0;
for (const file of files) {
  messages = [];
  const base = file.replace(/\.pdf$/, "");
  fs.rmSync(base + ".pdfjs.pbm", { force: true });
  try {
    const images = await PageImages(file, allPages);
    images.forEach((img, i) => {
      const name = allPages ? `${base}.pdfjs.${i + 1}.pbm` : base + ".pdfjs.pbm";
      if (img && img.data) fs.writeFileSync(name, ToPbm(img));
      else messages.push("no image");
    });
  } catch (e) {
    messages.push(String(e));
  }
  fs.writeFileSync(base + ".pdfjs.txt", messages.join("\n"));
  if (messages.some((m) => m.includes("Falling back to JS JBIG2"))) ++fallbacks;
}
// pdf.js turns to its older JavaScript decoder when PDFium's refuses a file
// (that is reported as above), and for every file when the WebAssembly one
// cannot load: then this run judged the wrong decoder.
if (fallbacks > 1 && fallbacks === files.length) {
  process.stderr.write("pdf.js could not use its WebAssembly JBIG2 decoder\n");
  process.exit(2);
}
