// A viewer document as seen by the Qt layer: the document core plus the
// signals its views follow. Every view of a document shares one DocumentObject;
// it goes away with the last view.
#pragma once

#include <QObject>
#include <QString>
#include <memory>

#include "viewer/core/document.h"

namespace viewer {

class DocumentObject : public QObject, private DocumentHost {
    Q_OBJECT

  public:
    DocumentObject();
    ~DocumentObject() override;

    // Opens the file: `path` is the file system's own bytes, handed to the
    // readers as they are, so that any name opens, valid text in the locale's
    // encoding or not.
    void open_local(const QByteArray& path);

    // Whether the last open read anything of its file: false when the file was
    // missing, unreadable or of an unknown kind, or its size or storage could
    // not be had.
    bool file_was_read() const;

    // The opened file, as one name per file (symbolic links resolved); empty
    // for a new document. The local form is the file system's bytes.
    QString file_identity() const;
    const QByteArray& local_identity() const { return identity_; }
    // The opened file's absolute path as opened (links not resolved), as
    // the file system's bytes; empty for a new document.
    const QByteArray& local_path() const { return path_; }
    static QByteArray identity_of(const QByteArray& path);

    void run_command(PictureCommand command);

    // Undo, redo and revert (document.h); each change ends with pictureChanged.
    void undo() { document_.undo(); }
    void redo() { document_.redo(); }
    void revert() { document_.revert(); }
    // Bytes the document's pictures may take, its steps of undo included.
    void set_history_budget(size_t bytes) { document_.history().set_budget(bytes); }

    const CPeloraDoc& document() const { return document_; }
    const imaging::ImageDesc& image() const { return document_.image(); }
    imaging::ImageDesc* picture_for_display() { return document_.image_for_display(); }
    QString title() const;
    imaging::ImgStatus last_status() const { return last_status_; }

  signals:
    void titleChanged(const QString& title);
    void pictureChanged();

  private:
    void show_message(const std::string& text) override;
    void title_changed(const std::string& title) override;
    void update_all_views() override;
    bool open_large_picture(const LargePicture& picture) override;

    CPeloraDoc document_;
    QByteArray identity_;
    QByteArray path_;
    imaging::ImgStatus last_status_ = imaging::IMG_OK;
};

}  // namespace viewer
