#include "encoder/document_coder.h"

#include <algorithm>
#include <new>
#include <exception>

#include "common/messages.h"
#include "common/segment_header.h"
#include "common/version.h"
#include "encoder/encode_state.h"
#include "encoder/lossy_classes.h"
#include "encoder/parameters.h"
#include "encoder/segment_writer.h"

namespace {

const char* const kCommentNames[] = {"Source", "Version"};
const char* const kCommentValues[] = {JB2_CODEC_NAME, JB2_CODEC_VERSION};

void CollectMessage(void* user, int severity, const char* line) {
  static_cast<std::vector<std::pair<int, std::string>>*>(user)->emplace_back(severity, line);
}

void Release(BMP* page, bool owned) {
  if (owned) DestroyBMP(page);
}

}  // namespace

int DocumentCoder::Create(PARAMETER* sections, long nSections, uint32_t pages, OutputKind kind, ByteSink sink,
                          PageProgress progress, unsigned threads, std::unique_ptr<DocumentCoder>* coder,
                          uint32_t dictPages) {
  PARAMETER defaultSection{};  // stands in when the caller gives no section
  if (sections == nullptr || nSections < 1) {
    sections = &defaultSection;
    nSections = 1;
  }
  // The same review that CheckParameters reports, into the settings the
  // coders take.
  std::vector<SectionSettings> settings;
  const int review = ReadSections(0, nullptr, sections, nSections, nullptr, nullptr, &settings);
  if (review != kReviewPassed) return review == kReviewRefused ? kTranscodeRefused : kTranscodeOutOfMemory;
  const bool shares = pages > 1 && ::SharesSymbols(settings);
  const uint32_t group = shares && dictPages > 0 && dictPages < pages ? dictPages : pages;
  try {
    coder->reset(new DocumentCoder(std::move(settings), pages, shares, group, kind, std::move(sink),
                                   std::move(progress), threads));
  } catch (const std::bad_alloc&) {
    PrintError("Out of Memory");
    return kTranscodeOutOfMemory;
  }
  return kTranscodeDone;
}

DocumentCoder::DocumentCoder(std::vector<SectionSettings> settings, uint32_t pages, bool shares, uint32_t group,
                             OutputKind kind, ByteSink sink, PageProgress progress, unsigned threads)
    : settings_(std::move(settings)),
      pages_(pages),
      progress_(std::move(progress)),
      threads_(threads),
      output_(kind, settings_[0].page.sequential, pages, group, std::move(sink)),
      shares_(shares),
      group_(group) {
  ENCODER* enc = &owner_.get()->Encoder;
  owner_.get()->Segments.lPage = 1;
  StartSegment(enc);
  EncodeComment(enc, kCommentNames, kCommentValues, 2);
  FinishSegmentBasic(enc, kSegExtension, 0);
}

DocumentCoder::~DocumentCoder() {
  {
    const std::lock_guard<std::mutex> hold(lock_);
    stop_ = true;
    for (Job& job : queue_) Release(&job.page, job.owned);
    queue_.clear();
  }
  changed_.notify_all();
  for (std::thread& t : pool_) t.join();
  for (Job& job : kept_) Release(&job.page, job.owned);
}

int DocumentCoder::Fail(int status) {
  if (status_ != kTranscodeDone) return status_;
  if (status == kTranscodeOutOfMemory) PrintError("Out of Memory");
  if (status == kTranscodeCheckFailed)
    PrintError("Lossy Check Failed: a Mark Would Be Drawn Beyond Its Gate - Nothing Written");
  status_ = status;
  return status;
}

int DocumentCoder::AddPage(BMP* page, bool owned) {
  try {
    return AddPageOrThrow(page, owned);
  } catch (const std::bad_alloc&) {
    return Fail(kTranscodeOutOfMemory);
  }
}

int DocumentCoder::AddPageOrThrow(BMP* page, bool owned) {
  Job job{added_ + 1, *page, owned, nullptr};
  if (owned) *page = BMP{};  // the page is ours now
  if (status_ != kTranscodeDone || added_ >= pages_) {
    Release(&job.page, owned);
    if (status_ != kTranscodeDone) return status_;
    PrintError("More Pages Than the Document Was Begun With");
    return Fail(kTranscodeFailed);
  }
  ++added_;
  const uint32_t group = Group(added_);
  if (shares_ && scanned_ > GroupStart(group)) {
    // The group was scanned: its dictionary before its first page.
    if (added_ == GroupStart(group) + 1 && StartGroup(group) != kTranscodeDone) {
      Release(&job.page, owned);
      return status_;
    }
    job.globals = globals_;
    return Submit(job);
  }
  if (shares_) {
    try {
      kept_.push_back(job);
    } catch (const std::bad_alloc&) {
      Release(&job.page, owned);
      return Fail(kTranscodeOutOfMemory);
    }
    return added_ == GroupEnd(group) ? CodeKept(group) : kTranscodeDone;
  }
  if (pages_ == 1) {
    // A page of its own is coded straight into the file's segments.
    if (progress_) progress_(1, 1);
    ++submitted_;
    ++filed_;
    try {
      CodePage(owner_.get(), &job.page, settings_, 1);
    } catch (const std::bad_alloc&) {
      Release(&job.page, owned);
      return Fail(kTranscodeOutOfMemory);
    } catch (const LossyCheckFailure&) {
      Release(&job.page, owned);
      return Fail(kTranscodeCheckFailed);
    }
    Release(&job.page, owned);
    if (!output_.Flush(&owner_.get()->Encoder))
      return Fail(output_.sinkFailed() ? kTranscodeOutputFailed : kTranscodeOutOfMemory);
    return kTranscodeDone;
  }
  return Submit(job);
}

int DocumentCoder::ScanPage(BMP* page, bool owned) {
  BMP scanned = *page;
  if (owned) *page = BMP{};
  int status = kTranscodeDone;
  if (status_ != kTranscodeDone) {
    status = status_;
  } else if (shares_ && scanned_ >= pages_) {
    PrintError("More Pages Than the Document Was Begun With");
    status = Fail(kTranscodeFailed);
  } else if (shares_ && added_ > 0 && Group(scanned_ + 1) <= Group(added_)) {
    PrintError("Pages Scanned After Pages Were Added");
    status = Fail(kTranscodeFailed);
  } else if (shares_) {
    try {
      GateSettings gate;
      std::unique_ptr<SharedMarkFinder>& finder = finders_[Group(scanned_ + 1)];
      if (!finder) finder = std::make_unique<SharedMarkFinder>();
      if (owned) finder->TakePage(&scanned, ScanGate(scanned, &gate));
      else finder->AddPage(scanned, ScanGate(scanned, &gate));
      ++scanned_;
    } catch (const std::bad_alloc&) {
      status = Fail(kTranscodeOutOfMemory);
    }
  }
  Release(&scanned, owned);
  return status;
}

// With lossy text coding, the gate a page's marks are compared with (as
// the page's coding compares them) in *gate; else null.
const GateSettings* DocumentCoder::ScanGate(const BMP& page, GateSettings* gate) {
  const TextSettings& text = settings_[0].text;
  if (!text.lossy || text.invertSymbols) return nullptr;
  const LOSSY_HOOKS* hooks = owner_.get()->pLossyHooks;
  if (hooks && hooks->pGate) *gate = *hooks->pGate;
  else gate->tolerance = GateTolerance(PageResolution(page, settings_[0].page));
  return gate;
}

// The dictionary of the marks a group's pages share, after the pages of the
// groups before it (whose dictionary it replaces) and before its own.
int DocumentCoder::StartGroup(uint32_t group) {
  if (Drain(true) != kTranscodeDone) return status_;
  try {
    globals_.reset();
    auto globals = std::make_shared<GLOBAL_SYMBOLS>();
    if (const auto it = finders_.find(group); it != finders_.end()) {
      it->second->Finish(globals.get());
      finders_.erase(it);
    }
    if (!globals->symbols.empty()) {
      WriteGlobalDictionary(owner_.get(), globals.get(), settings_[0]);
      globals_ = std::move(globals);
    }
  } catch (const std::bad_alloc&) {
    return Fail(kTranscodeOutOfMemory);
  }
  return kTranscodeDone;
}

// A group whose pages were kept, at its last page: their marks, then the
// pages.
int DocumentCoder::CodeKept(uint32_t group) {
  std::vector<Job> pages;
  pages.swap(kept_);
  try {
    std::unique_ptr<SharedMarkFinder>& finder = finders_[group];
    finder = std::make_unique<SharedMarkFinder>();
    GateSettings gate;
    for (const Job& job : pages) finder->AddPage(job.page, ScanGate(job.page, &gate));
  } catch (const std::bad_alloc&) {
    Fail(kTranscodeOutOfMemory);
  }
  if (status_ == kTranscodeDone) StartGroup(group);
  for (Job& job : pages) {
    job.globals = globals_;
    if (status_ == kTranscodeDone) Submit(job);
    else Release(&job.page, job.owned);
  }
  return status_;
}

std::unique_ptr<DocumentCoder::PageRun> DocumentCoder::Code(Job job) {
  if (progress_) {
    const std::lock_guard<std::mutex> hold(progressLock_);
    progress_(++started_, pages_);
  }
  std::unique_ptr<PageRun> run;
  try {
    run = std::make_unique<PageRun>();
    jb2msg::Sink sink(CollectMessage, &run->messages);
    jb2msg::ScopedSink scope(&sink);
    ENCODE_STATE* page = run->owner.get();
    page->Segments.lFirstNumber = kLocalSegmentNumbers;
    page->pGlobals = job.globals.get();
    page->pLossyHooks = owner_.get()->pLossyHooks;
    CodePage(page, &job.page, settings_, job.number);
    run->failed = page->Segments.bFailed != 0;
  } catch (const std::bad_alloc&) {
    if (run) run->failed = true;
  } catch (const LossyCheckFailure&) {
    run->failed = run->checkFailed = true;
  }
  Release(&job.page, job.owned);
  job.globals.reset();
  return run;
}

void DocumentCoder::Work() {
  for (;;) {
    Job job;
    {
      std::unique_lock<std::mutex> hold(lock_);
      changed_.wait(hold, [this] { return stop_ || !queue_.empty(); });
      if (queue_.empty()) return;
      job = queue_.front();
      queue_.pop_front();
    }
    std::unique_ptr<PageRun> run = Code(job);
    {
      const std::lock_guard<std::mutex> hold(lock_);
      --holding_;
      try {
        done_[job.number] = std::move(run);
      } catch (const std::bad_alloc&) {
        lost_ = true;
      }
    }
    changed_.notify_all();
  }
}

int DocumentCoder::Submit(const Job& job) {
  ++submitted_;
  if (pool_.empty() && !inline_) {
    unsigned workers = threads_ ? threads_ : std::max(1u, std::thread::hardware_concurrency());
    workers = std::min(workers, pages_);
    try {
      for (unsigned t = 0; workers > 1 && t < workers; ++t) pool_.emplace_back([this] { Work(); });
    } catch (const std::exception&) {
      // Fewer threads than asked (none could be had, or no memory for
      // one): they share the pages.
    }
    inline_ = pool_.empty();
  }
  if (inline_) return File(Code(job));
  {
    std::unique_lock<std::mutex> hold(lock_);
    changed_.wait(hold, [this] { return holding_ < pool_.size(); });
    try {
      queue_.push_back(job);
    } catch (const std::bad_alloc&) {
      hold.unlock();
      Release(const_cast<BMP*>(&job.page), job.owned);
      return Fail(kTranscodeOutOfMemory);
    }
    ++holding_;
  }
  changed_.notify_all();
  return Drain(false);
}

int DocumentCoder::Drain(bool all) {
  while (status_ == kTranscodeDone && filed_ < submitted_) {
    std::unique_ptr<PageRun> run;
    {
      std::unique_lock<std::mutex> hold(lock_);
      if (all) changed_.wait(hold, [this] { return lost_ || done_.count(filed_ + 1) != 0; });
      if (lost_) return Fail(kTranscodeOutOfMemory);
      const auto it = done_.find(filed_ + 1);
      if (it == done_.end()) break;
      run = std::move(it->second);
      done_.erase(it);
    }
    if (const int s = File(std::move(run)); s != kTranscodeDone) return s;
  }
  return status_;
}

int DocumentCoder::File(std::unique_ptr<PageRun> run) {
  ++filed_;
  if (status_ != kTranscodeDone) return status_;
  if (run && run->checkFailed) return Fail(kTranscodeCheckFailed);
  if (!run || run->failed) return Fail(kTranscodeOutOfMemory);
  for (const auto& [severity, line] : run->messages) jb2msg::ForwardLine(severity, line);
  ENCODER* enc = &owner_.get()->Encoder;
  if (!AppendRenumbered(enc, &run->owner.get()->Segments)) return Fail(kTranscodeOutOfMemory);
  run.reset();
  if (!output_.Flush(enc)) return Fail(output_.sinkFailed() ? kTranscodeOutputFailed : kTranscodeOutOfMemory);
  return kTranscodeDone;
}

int DocumentCoder::Finish() {
  try {
    return FinishOrThrow();
  } catch (const std::bad_alloc&) {
    return Fail(kTranscodeOutOfMemory);
  }
}

int DocumentCoder::FinishOrThrow() {
  if (status_ != kTranscodeDone) return status_;
  if (added_ != pages_) {
    PrintError("Fewer Pages Than the Document Was Begun With");
    return Fail(kTranscodeFailed);
  }
  ENCODE_STATE* state = owner_.get();
  if (Drain(true) != kTranscodeDone) return status_;
  StartSegment(&state->Encoder);
  FinishSegmentBasic(&state->Encoder, kSegEndOfFile, 1);
  if (!output_.Finish(&state->Encoder))
    return Fail(output_.sinkFailed() ? kTranscodeOutputFailed : kTranscodeOutOfMemory);
  return kTranscodeDone;
}
