// Where the download reports its progress. The transfer loop knows nothing of
// windows: the application turns each report into a posted message, a test
// or a benchmark collects them.
#pragma once

#include <string>

class DownloadSink {
  public:
    // After every chunk, on the downloading thread: percent of the whole file
    // and the progress line, already composed.
    virtual void OnProgress(unsigned percent, std::wstring text) = 0;

  protected:
    ~DownloadSink() = default;
};
