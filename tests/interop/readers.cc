#include "tests/interop/readers.h"

#include "encoder/transclib.h"
#include "tests/pdf_wrap.h"
#include "tests/test_util.h"

namespace jb2test {

namespace {

const std::string kPdfjsDir = JB2_SOURCE_DIR "/tests/interop/pdfjs";

// A reader stuck on one file must not hold the test to ctest's limit.
constexpr const char* kTimeout = "timeout 120 ";

std::string Base(const std::string& jb2) { return jb2.substr(0, jb2.size() - 4); }
std::string Quote(const std::string& s) { return "'" + s + "'"; }

bool HaveProgram(const std::string& name) { return RunCommand("command -v " + name).exitStatus == 0; }

// Runs `perFile` (a shell command using "$b", the file's base name, that
// writes $b.<tag>.txt) for every file in one shell; a non-zero exit status
// is noted in the messages.
bool RunEach(const std::vector<std::string>& jb2Files, const std::string& tag, const std::string& perFile,
             std::string* error) {
  std::string bases;
  for (const std::string& f : jb2Files) bases.append(" ").append(Quote(Base(f)));
  const std::string messages = "\"$b." + tag + ".txt\"";
  std::string script = "for b in";
  script += bases + "; do " + perFile + " 2>" + messages + " || echo \"exit status $?\" >>" + messages + "; done";
  const CommandResult r = RunCommand(script);
  if (r.exitStatus != 0) *error = tag + " run failed: " + r.err;
  return r.exitStatus == 0;
}

// Writes NAME.pdf beside each NAME.jb2.
bool WritePdfs(const std::vector<std::string>& jb2Files, std::string* error) {
  for (const std::string& f : jb2Files) {
    std::string segments;
    uint32_t width = 0, height = 0;
    if (!EmbeddedSegments(ReadFileBytes(f), &segments, &width, &height)) {
      *error = "cannot wrap " + f + " in a PDF";
      return false;
    }
    const std::string pdf = PdfWithJbig2Image(width, height, segments);
    WriteFileBytes(Base(f) + ".pdf", std::vector<uint8_t>(pdf.begin(), pdf.end()));
  }
  return true;
}

bool LoadAny(const std::string& path, BMP* page) {
  if (!FileExists(path)) return false;
  if (path.ends_with(".bmp")) return LoadBMP(path.c_str(), page) == 0;
  return LoadPBM(path, page);
}

}  // namespace

const char* ReaderName(Reader reader) {
  switch (reader) {
    case Reader::kUntransc: return "untransc";
    case Reader::kJbig2dec: return "jbig2dec";
    case Reader::kPoppler: return "poppler";
    case Reader::kPdfjs: return "pdf.js";
  }
  return "?";
}

std::string ReaderMissing(Reader reader) {
  switch (reader) {
    case Reader::kUntransc: return "";
    case Reader::kJbig2dec: return HaveProgram("jbig2dec") ? "" : "jbig2dec is not installed";
    case Reader::kPoppler: return HaveProgram("pdfimages") ? "" : "pdfimages (poppler-utils) is not installed";
    case Reader::kPdfjs:
      if (!HaveProgram("node")) return "node is not installed";
      return FileExists(kPdfjsDir + "/node_modules/pdfjs-dist/package.json")
                 ? ""
                 : "pdfjs-dist is not installed in tests/interop/pdfjs (scripts/install-deps.sh)";
  }
  return "unknown reader";
}

std::vector<Reading> ReadFiles(Reader reader, const std::vector<std::string>& jb2Files, std::string* error) {
  const std::string tag = reader == Reader::kPdfjs ? "pdfjs" : ReaderName(reader);
  bool ran = false;
  std::string output;  // the page file, after the base name
  switch (reader) {
    case Reader::kUntransc:
      ran = RunEach(jb2Files, tag, kTimeout + Quote(JB2_UNTRANSC_PATH) + " -f \"$b\"", error);
      output = "_1.bmp";
      break;
    case Reader::kJbig2dec:
      ran = RunEach(jb2Files, tag, kTimeout + std::string("jbig2dec -t pbm -o \"$b.jbig2dec.pbm\" \"$b.jb2\""), error);
      output = ".jbig2dec.pbm";
      break;
    case Reader::kPoppler:
      ran = WritePdfs(jb2Files, error) &&
            RunEach(jb2Files, tag, kTimeout + std::string("pdfimages \"$b.pdf\" \"$b.poppler\""), error);
      output = ".poppler-000.pbm";
      break;
    case Reader::kPdfjs: {
      if (!WritePdfs(jb2Files, error)) break;
      std::string pdfs;
      for (const std::string& f : jb2Files) pdfs.append(" ").append(Quote(Base(f) + ".pdf"));
      const CommandResult r = RunCommand("timeout 600 node " + Quote(kPdfjsDir + "/read_images.mjs") + pdfs);
      ran = r.exitStatus == 0;
      if (!ran) *error = "pdf.js run failed: " + r.err;
      output = ".pdfjs.pbm";
      break;
    }
  }
  std::vector<Reading> readings;
  if (!ran) return readings;
  for (const std::string& f : jb2Files) {
    Reading reading;
    const std::vector<uint8_t> messages = ReadFileBytes(Base(f) + "." + tag + ".txt");
    reading.messages.assign(messages.begin(), messages.end());
    if (!LoadAny(Base(f) + output, &reading.page)) reading.page = BMP{};
    readings.push_back(std::move(reading));
  }
  return readings;
}

}  // namespace jb2test
