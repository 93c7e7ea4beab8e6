// A viewer document as seen by the Qt layer: the document core plus the
// signals its views follow. Every view of a document shares one DocumentObject;
// it goes away with the last view.
#pragma once

#include <QObject>
#include <QString>
#include <memory>

#include "document.h"

class DocumentObject : public QObject, private DocumentHost {
    Q_OBJECT

  public:
    DocumentObject();
    ~DocumentObject() override;

    // Opens the file: `path` is handed to the readers in the file system's own
    // encoding, so names with non-ASCII bytes open.
    void open(const QString& path);

    // Whether the last open read anything of its file: false when the file was
    // missing, unreadable or of an unknown kind, or its size or storage could
    // not be had.
    bool file_was_read() const;

    // The opened file, as one name per file (symbolic links resolved); empty
    // for a new document.
    const QString& file_identity() const { return identity_; }
    static QString identity_of(const QString& path);

    void run_command(PictureCommand command);

    const CPeloraDoc& document() const { return document_; }
    const ImageDesc& image() const { return document_.image(); }
    ImageDesc* picture_for_display() { return document_.image_for_display(); }
    QString title() const;
    ImgStatus last_status() const { return last_status_; }

  signals:
    void titleChanged(const QString& title);
    void pictureChanged();

  private:
    void show_message(const std::string& text) override;
    void title_changed(const std::string& title) override;
    void update_all_views() override;
    bool open_large_picture(const LargePicture& picture) override;

    CPeloraDoc document_;
    QString identity_;
    ImgStatus last_status_ = imaging::IMG_OK;
};
