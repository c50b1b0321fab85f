// A document coded a page at a time: each page is coded (on one of the
// coder's threads) and released as it comes, and its segments go out in
// page order as soon as the pages before it have gone. A text document that
// shares symbols between its pages does so in groups of pages, each with a
// dictionary of its own (of no page, before the group's first page) found
// by a first pass over the group's pages; without that pass a group's pages
// are kept until its last one, for the marks they share are known only then.
#pragma once

#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "encoder/document_output.h"
#include "encoder/encode_state_owner.h"
#include "encoder/global_symbols.h"
#include "encoder/transcode.h"

class DocumentCoder {
 public:
  // A coder for a document of `pages` pages coded with `sections` (none:
  // one generic region), reviewed as TranscodeDocumentToMemory reviews
  // them. Returns kTranscodeDone with *coder made, kTranscodeRefused or
  // kTranscodeOutOfMemory. Progress is told as each page's coding starts,
  // from the coding threads, one call at a time. Pages that share symbols
  // do so in groups of `dictPages` (0: all pages in one group).
  static int Create(PARAMETER* sections, long nSections, uint32_t pages, OutputKind kind, ByteSink sink,
                    PageProgress progress, unsigned threads, std::unique_ptr<DocumentCoder>* coder,
                    uint32_t dictPages = 0);
  ~DocumentCoder();
  DocumentCoder(const DocumentCoder&) = delete;
  DocumentCoder& operator=(const DocumentCoder&) = delete;

  // Whether the pages share symbols: a first pass over them (ScanPage)
  // then spares the coder keeping them.
  bool SharesSymbols() const { return shares_; }
  // The pages of each group with a dictionary of its own (the last group
  // may have fewer); the page count when the pages share nothing.
  uint32_t GroupPages() const { return group_; }
  // The first pass of a document whose pages share symbols: the marks of
  // the next page (given again to AddPage later, in the same order) are
  // counted and those shared within its group kept; the page is not. A
  // group's pages are scanned before its first page is added (all groups
  // first, or each group just before its pages). An owned page is
  // destroyed. Does nothing when the pages share nothing. Returns
  // kTranscodeDone, kTranscodeOutOfMemory, or kTranscodeFailed for a page
  // of a group whose pages are being added, or beyond the count given.
  int ScanPage(BMP* page, bool owned);

  // Codes the next page (or keeps it until its group's last page, when the
  // pages share symbols and the group was not scanned first). An
  // owned page is destroyed once coded; a page that is not stays the
  // caller's until Finish. Waits while every thread has a page. Returns
  // kTranscodeDone, or the first failure of the document: kTranscodeFailed
  // for a page beyond the count given, kTranscodeOutOfMemory,
  // kTranscodeOutputFailed, kTranscodeCheckFailed (lossy coding's check).
  int AddPage(BMP* page, bool owned);
  // Codes what is left and ends the output: kTranscodeDone, a failure as
  // for AddPage, or kTranscodeFailed when fewer pages came than were
  // announced.
  int Finish();
  // Tests only (lossy_classes.h): what is put in the way of lossy coding.
  void SetLossyHooks(const LOSSY_HOOKS* hooks) { owner_.get()->pLossyHooks = hooks; }

 private:
  struct Job {
    uint32_t number = 0;
    BMP page{};
    bool owned = false;
    std::shared_ptr<const GLOBAL_SYMBOLS> globals;  // its group's dictionary; null: none
  };
  // One page coded on its own: its segments (numbered from
  // kLocalSegmentNumbers), and the messages it gave, in order.
  struct PageRun {
    EncodeStateOwner owner;
    std::vector<std::pair<int, std::string>> messages;
    bool failed = false;
    bool checkFailed = false;  // lossy coding's check before writing failed
  };

  DocumentCoder(std::vector<SectionSettings> settings, uint32_t pages, bool shares, uint32_t group, OutputKind kind,
                ByteSink sink, PageProgress progress, unsigned threads);
  // AddPage and Finish, with std::bad_alloc thrown by what they call.
  int AddPageOrThrow(BMP* page, bool owned);
  int FinishOrThrow();
  int Submit(const Job& job);
  std::unique_ptr<PageRun> Code(Job job);
  void Work();
  int Drain(bool all);
  int File(std::unique_ptr<PageRun> run);
  int Fail(int status);

  std::vector<SectionSettings> settings_;
  uint32_t pages_;
  PageProgress progress_;
  unsigned threads_;
  EncodeStateOwner owner_;  // the document's segments, as they are filed
  DocumentOutput output_;
  // The groups of pages that share a dictionary.
  uint32_t Group(uint32_t number) const { return (number - 1) / group_; }
  uint32_t GroupStart(uint32_t group) const { return group * group_; }  // pages before it
  uint32_t GroupEnd(uint32_t group) const { return std::min<uint64_t>(pages_, uint64_t{group + 1} * group_); }
  int StartGroup(uint32_t group);
  int CodeKept(uint32_t group);

  bool shares_ = false;           // the pages share symbols
  uint32_t group_;                // pages per group
  std::map<uint32_t, std::unique_ptr<SharedMarkFinder>> finders_;  // the first pass's findings, by group
  std::shared_ptr<const GLOBAL_SYMBOLS> globals_;  // the current group's dictionary
  uint32_t scanned_ = 0;          // pages of the first pass
  const GateSettings* ScanGate(const BMP& page, GateSettings* gate);
  std::vector<Job> kept_;         // a group's pages, when it was not scanned
  uint32_t added_ = 0;            // pages given
  uint32_t submitted_ = 0;        // pages handed to the coding
  uint32_t filed_ = 0;            // pages whose segments have gone out
  int status_ = kTranscodeDone;   // the first failure

  // The threads and what they share.
  std::vector<std::thread> pool_;
  std::mutex lock_;
  std::condition_variable changed_;
  std::deque<Job> queue_;
  std::map<uint32_t, std::unique_ptr<PageRun>> done_;  // coded, by page number; null: failed
  uint32_t holding_ = 0;   // pages queued or being coded
  bool lost_ = false;      // a coded page could not be kept: the document fails
  bool stop_ = false;
  bool inline_ = false;    // one thread: pages are coded as they come, on the caller's
  std::mutex progressLock_;
  uint32_t started_ = 0;   // pages whose coding has started (progress)
};
