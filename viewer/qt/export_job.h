// One export, written on a worker thread while the window stays alive.
//
// The job writes a copy of the picture, so the document may be edited or
// closed meanwhile (a picture too large to copy, or a system out of threads,
// has it written from the document itself while the window waits). wait() returns once the file is
// written, the write failed, or the user cancelled it:
//   - an export that ends within a moment shows nothing;
//   - until then the window repaints but takes no input;
//   - after that a progress dialog with Cancel, modal to the window, and a
//     busy cursor show until it ends.
// Cancel stops the writer before its next row: the file is abandoned, so an
// existing file keeps its contents and no temporary file stays behind.
#pragma once

#include <QString>
#include <chrono>
#include <future>
#include <string>

#include "viewer/core/image_holder.h"
#include "viewer/core/picture_writer.h"

class QWidget;

namespace viewer {

class ExportJob {
  public:
    enum class Outcome { Written, Failed, Cancelled };
    struct Result {
        Outcome outcome;
        QString error;  // what failed (Failed only)
    };

    // How long an export runs before the progress dialog shows.
    static constexpr std::chrono::milliseconds kMoment{500};

    // Starts writing `picture` to `path` (in the file system's encoding).
    ExportJob(const imaging::ImageDesc& picture, std::string path, ExportFormat format);
    // Waits for the worker, if it still runs.
    ~ExportJob();
    ExportJob(const ExportJob&) = delete;
    ExportJob& operator=(const ExportJob&) = delete;

    // Waits for the end as described above; `label` is the dialog's text.
    Result wait(QWidget* window, const QString& label, std::chrono::milliseconds moment = kMoment);

  private:
    bool finished() const;
    void wait_without_input(std::chrono::milliseconds moment);
    void wait_with_dialog(QWidget* window, const QString& label);
    Result result(const std::string& error) const;

    ImageHolder copy_;  // what the worker writes
    // What wait() writes on this thread, when no copy or no worker could be had.
    const imaging::ImageDesc* unstarted_ = nullptr;
    std::string path_;
    ExportFormat format_;
    ExportProgress progress_;
    std::future<std::string> written_;  // the worker's result
};

}  // namespace viewer
