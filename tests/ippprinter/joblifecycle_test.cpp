// Jobs from their making to their end: documents landing in the capturing queue with the
// job's options, states that follow the spooler's job, the multi-request road, and who
// may cancel what.

#include "base/documenthistory.h"
#include "base/eventlog.h"
#include "ippprinter/ippexchange.h"
#include "tests/ippprinter/ippprintertest.h"

#include <thread>

namespace {

int JobIdOf(ipp_t* response) { return ippGetInteger(ippFindAttribute(response, "job-id", IPP_TAG_INTEGER), 0); }

// The job-id of every job group in a Get-Jobs response.
std::set<int> JobIds(ipp_t* response) {
  std::set<int> ids;
  for (ipp_attribute_t* a = ippFindAttribute(response, "job-id", IPP_TAG_INTEGER); a != nullptr;
       a = ippFindNextAttribute(response, "job-id", IPP_TAG_INTEGER)) {
    ids.insert(ippGetInteger(a, 0));
  }
  return ids;
}

ipp_t* ForJob(ipp_t* request, int jobId) {
  ippAddInteger(request, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "job-id", jobId);
  return request;
}

using JobLifecycle = IppPrinterTest;

TEST_F(JobLifecycle, PrintJobLandsWithItsOptionsAndIsRecorded) {
  const std::string title = UniqueTitle("ipp-options");
  const std::string pdf = MakeTestPdf(title);
  ipp_t* request = NewRequest(IPP_OP_PRINT_JOB);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "job-name", nullptr, title.c_str());
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_MIMETYPE, "document-format", nullptr, "application/pdf");
  ippAddInteger(request, IPP_TAG_JOB, IPP_TAG_INTEGER, "copies", 2);
  ippAddString(request, IPP_TAG_JOB, IPP_TAG_KEYWORD, "media", nullptr, "na_letter_8.5x11in");
  ippAddString(request, IPP_TAG_JOB, IPP_TAG_KEYWORD, "print-color-mode", nullptr, "monochrome");
  ippAddInteger(request, IPP_TAG_JOB, IPP_TAG_ENUM, "print-quality", IPP_QUALITY_HIGH);
  IppPtr response(Ask(request, pdf));
  ASSERT_EQ(ippGetStatusCode(response.get()), IPP_STATUS_OK) << cupsLastErrorString();
  const int id = JobIdOf(response.get());
  ASSERT_GT(id, 0);

  const auto captured = WaitForCapturedJobs(kServiceTestQueue, title, 1, std::chrono::seconds(30));
  ASSERT_EQ(captured.size(), 1u);
  const std::string base = captured[0].substr(0, captured[0].size() - 5);
  EXPECT_EQ(ReadTestFile(base + ".copies"), "2\n");
  const std::string options = ReadTestFile(base + ".options").value_or("");
  EXPECT_NE(options.find("print-color-mode=monochrome"), std::string::npos) << options;
  EXPECT_NE(options.find("print-quality=5"), std::string::npos) << options;
  EXPECT_EQ(WaitForJobEnd(id), IPP_JSTATE_COMPLETED);

  const auto history = RecentDocuments();
  ASSERT_FALSE(history.empty());
  EXPECT_EQ(history.front().name, title);
  EXPECT_EQ(history.front().source, "127.0.0.1, driverless");
  EXPECT_TRUE(history.front().printed);
  EXPECT_EQ(history.front().printer, kServiceTestQueue);
  // The spooler holds its own copy: nothing stays in the spool folder.
  EXPECT_TRUE(SpoolNames().empty());
}

TEST_F(JobLifecycle, CreateSendAndCloseMakeOneJob) {
  const std::string title = UniqueTitle("ipp-create");
  ipp_t* create = NewRequest(IPP_OP_CREATE_JOB);
  ippAddString(create, IPP_TAG_OPERATION, IPP_TAG_NAME, "job-name", nullptr, title.c_str());
  IppPtr created(Ask(create));
  ASSERT_EQ(ippGetStatusCode(created.get()), IPP_STATUS_OK);
  const int id = JobIdOf(created.get());

  ipp_t* list = NewRequest(IPP_OP_GET_JOBS);
  ippAddBoolean(list, IPP_TAG_OPERATION, "my-jobs", 1);
  IppPtr listed(Ask(list));
  EXPECT_TRUE(JobIds(listed.get()).contains(id));

  ipp_t* send = ForJob(NewRequest(IPP_OP_SEND_DOCUMENT), id);
  ippAddBoolean(send, IPP_TAG_OPERATION, "last-document", 0);
  IppPtr sent(Ask(send, MakeTestPdf(title)));
  ASSERT_EQ(ippGetStatusCode(sent.get()), IPP_STATUS_OK);
  // A second document: one per job.
  ipp_t* again = ForJob(NewRequest(IPP_OP_SEND_DOCUMENT), id);
  ippAddBoolean(again, IPP_TAG_OPERATION, "last-document", 1);
  IppPtr refused(Ask(again, MakeTestPdf(title)));
  EXPECT_EQ(ippGetStatusCode(refused.get()), IPP_STATUS_ERROR_MULTIPLE_JOBS_NOT_SUPPORTED);

  IppPtr closed(Ask(ForJob(NewRequest(IPP_OP_CLOSE_JOB), id)));
  ASSERT_EQ(ippGetStatusCode(closed.get()), IPP_STATUS_OK);
  EXPECT_EQ(WaitForCapturedJobs(kServiceTestQueue, title, 1, std::chrono::seconds(30)).size(), 1u);
  EXPECT_EQ(WaitForJobEnd(id), IPP_JSTATE_COMPLETED);

  ipp_t* completed = NewRequest(IPP_OP_GET_JOBS);
  ippAddString(completed, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "which-jobs", nullptr, "completed");
  IppPtr done(Ask(completed));
  EXPECT_TRUE(JobIds(done.get()).contains(id));
  EXPECT_TRUE(SpoolNames().empty());
}

TEST_F(JobLifecycle, OnlyTheSameUserFromTheSameAddressCancels) {
  IppPtr first(Ask(NewRequest(IPP_OP_CREATE_JOB, "alice")));
  IppPtr second(Ask(NewRequest(IPP_OP_CREATE_JOB, "alice")));
  IppPtr bobs(Ask(NewRequest(IPP_OP_CREATE_JOB, "bob")));
  const int id = JobIdOf(first.get());
  ASSERT_GT(id, 0);

  IppPtr byBob(Ask(ForJob(NewRequest(IPP_OP_CANCEL_JOB, "bob"), id)));
  EXPECT_EQ(ippGetStatusCode(byBob.get()), IPP_STATUS_ERROR_NOT_AUTHORIZED);
  IppPtr elsewhere(ParseReply(Post(Serialize(ForJob(NewRequest(IPP_OP_CANCEL_JOB, "alice"), id)), "127.0.0.2")));
  ASSERT_NE(elsewhere, nullptr);
  EXPECT_EQ(ippGetStatusCode(elsewhere.get()), IPP_STATUS_ERROR_NOT_AUTHORIZED);
  IppPtr byAlice(Ask(ForJob(NewRequest(IPP_OP_CANCEL_JOB, "alice"), id)));
  EXPECT_EQ(ippGetStatusCode(byAlice.get()), IPP_STATUS_OK);
  EXPECT_EQ(WaitForJobEnd(id), IPP_JSTATE_CANCELED);
  IppPtr twice(Ask(ForJob(NewRequest(IPP_OP_CANCEL_JOB, "alice"), id)));
  EXPECT_EQ(ippGetStatusCode(twice.get()), IPP_STATUS_ERROR_NOT_POSSIBLE);

  // Cancel-My-Jobs takes Alice's other job and leaves Bob's.
  IppPtr mine(Ask(NewRequest(IPP_OP_CANCEL_MY_JOBS, "alice")));
  EXPECT_EQ(ippGetStatusCode(mine.get()), IPP_STATUS_OK);
  EXPECT_EQ(WaitForJobEnd(JobIdOf(second.get())), IPP_JSTATE_CANCELED);
  IppPtr bobsState(Ask(ForJob(NewRequest(IPP_OP_GET_JOB_ATTRIBUTES, "bob"), JobIdOf(bobs.get()))));
  EXPECT_EQ(ippGetInteger(ippFindAttribute(bobsState.get(), "job-state", IPP_TAG_ENUM), 0), IPP_JSTATE_PENDING);
  IppPtr(Ask(ForJob(NewRequest(IPP_OP_CANCEL_JOB, "bob"), JobIdOf(bobs.get()))));
}

TEST_F(JobLifecycle, CreatedJobsTimeOutAndFinishedJobsAreForgotten) {
  CIppPrinter printer(JobTableLimits{1, 2, 500});
  auto ask = [&](ipp_t* request) {
    const auto exchange = printer.Begin({"127.0.0.1", "localhost", port}, -1);
    EXPECT_TRUE(exchange->Feed(Serialize(request)));
    return IppPtr(ParseIpp(exchange->Finish().body));
  };
  const int id = JobIdOf(ask(NewRequest(IPP_OP_CREATE_JOB)).get());
  ASSERT_GT(id, 0);
  auto state = [&] {
    IppPtr response = ask(ForJob(NewRequest(IPP_OP_GET_JOB_ATTRIBUTES), id));
    return std::pair{ippGetStatusCode(response.get()),
                     ippGetInteger(ippFindAttribute(response.get(), "job-state", IPP_TAG_ENUM), 0)};
  };
  EXPECT_EQ(state().second, IPP_JSTATE_PENDING);
  std::this_thread::sleep_for(std::chrono::milliseconds(2500));
  EXPECT_EQ(state().second, IPP_JSTATE_ABORTED);
  // Recorded as not printed, which raises the same notice as a phone's failed upload.
  ASSERT_FALSE(RecentDocuments().empty());
  EXPECT_FALSE(RecentDocuments().front().printed);
  EXPECT_NE(RecentDocuments().front().reason.find("time-out"), std::string::npos);
  std::this_thread::sleep_for(std::chrono::milliseconds(3000));
  EXPECT_EQ(state().first, IPP_STATUS_ERROR_NOT_FOUND);
}

}  // namespace
