// The status bar of the main window: the active picture's size and depth, the
// scale it is shown at, and the pixel under the pointer with its value (the
// palette index and its colour for palette pictures, the colour for
// true-colour ones).
#pragma once

#include <QList>
#include <QPointer>
#include <QStatusBar>

class QLabel;

namespace viewer {

class CPeloraView;

class PictureStatusBar : public QStatusBar {
    Q_OBJECT

  public:
    explicit PictureStatusBar(QWidget* parent = nullptr);

    // Shows what `view` shows, and follows it (null: the bar is empty).
    void follow(CPeloraView* view);

    QString picture_text() const;
    QString scale_text() const;
    QString pointer_text() const;

  private:
    void show_picture();
    void show_pointer(QPoint pixel);

    QPointer<CPeloraView> view_;
    QList<QMetaObject::Connection> connections_;
    QLabel* pointer_;
    QLabel* picture_;
    QLabel* scale_;
};

}  // namespace viewer
