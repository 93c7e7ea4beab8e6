#include "viewer/qt/export_job.h"

#include <QApplication>
#include <QEventLoop>
#include <QFile>
#include <QProgressDialog>
#include <QTimer>
#include <algorithm>
#include <system_error>

namespace viewer {

namespace {

// How often the waiting window looks at the worker.
constexpr std::chrono::milliseconds kPollInterval{20};

// An export this short ends before the window waits for it at all.
constexpr std::chrono::milliseconds kQuiet{50};

// The dialog's range: rows scaled down to what a progress bar's int holds.
int progress_value(uint32_t rows) {
    return static_cast<int>(std::min<uint32_t>(rows, INT32_MAX));
}

}  // namespace

ExportJob::ExportJob(const imaging::ImageDesc& picture, std::string path, ExportFormat format)
    : path_(std::move(path)), format_(format) {
    if (copy_.copy_from(picture) != imaging::IMG_OK) {
        unstarted_ = &picture;  // no room for a copy
        return;
    }
    try {
        written_ = std::async(std::launch::async, [this] {
            return export_picture(copy_.desc(), path_, format_, &progress_);
        });
    } catch (const std::system_error&) {
        unstarted_ = &copy_.desc();  // no thread to be had
    }
}

ExportJob::~ExportJob() {
    if (written_.valid()) {
        written_.wait();
    }
}

bool ExportJob::finished() const {
    return written_.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
}

ExportJob::Result ExportJob::result(const std::string& error) const {
    if (error.empty()) {
        return Result{Outcome::Written, QString()};
    }
    if (progress_.cancelled()) {
        return Result{Outcome::Cancelled, QString()};
    }
    return Result{Outcome::Failed, QFile::decodeName(QByteArray::fromStdString(error))};
}

ExportJob::Result ExportJob::wait(QWidget* window, const QString& label,
                                  std::chrono::milliseconds moment) {
    if (unstarted_ != nullptr) {
        return result(export_picture(*unstarted_, path_, format_, &progress_));
    }
    if (written_.wait_for(std::min(kQuiet, moment)) != std::future_status::ready) {
        wait_without_input(moment);
        if (!finished()) {
            wait_with_dialog(window, label);
        }
    }
    return result(written_.get());
}

void ExportJob::wait_without_input(std::chrono::milliseconds moment) {
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [this, &loop] {
        if (finished()) {
            loop.quit();
        }
    });
    poll.start(kPollInterval);
    QTimer::singleShot(std::max(moment - kQuiet, std::chrono::milliseconds(0)), &loop,
                       &QEventLoop::quit);
    // Paint and timer events go on; clicks and keys wait for the dialog,
    // which then keeps them from the window.
    loop.exec(QEventLoop::ExcludeUserInputEvents);
}

void ExportJob::wait_with_dialog(QWidget* window, const QString& label) {
    QProgressDialog dialog(label, QProgressDialog::tr("Cancel"), 0,
                           progress_value(progress_.rows_total()), window);
    dialog.setWindowTitle(QStringLiteral("Pelora"));
    dialog.setWindowModality(Qt::WindowModal);
    dialog.setMinimumDuration(0);
    dialog.setAutoClose(false);
    dialog.setAutoReset(false);
    QObject::connect(&dialog, &QProgressDialog::canceled, &dialog, [this] { progress_.cancel(); });

    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [this, &loop, &dialog] {
        if (finished()) {
            loop.quit();
        } else if (!progress_.cancelled()) {
            dialog.setValue(progress_value(progress_.rows_done()));
        }
    });
    poll.start(kPollInterval);
    QApplication::setOverrideCursor(Qt::BusyCursor);
    dialog.show();
    loop.exec();
    QApplication::restoreOverrideCursor();
}

}  // namespace viewer
