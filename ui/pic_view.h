#pragma once

#include <QWidget>

class QImage;
class QPaintEvent;

// The picture pane: shows the last captured screen image stretched over the
// whole pane, proportions not kept. It refers to the picture, never owns it;
// before the first capture it shows only the background.
class CPicView : public QWidget {
    Q_OBJECT

public:
    explicit CPicView(QWidget* parent = nullptr);

    // The picture to draw from now on (nullptr: none). The caller keeps it
    // alive while it is shown and asks for the repaint.
    void SetImage(const QImage* image) { m_image = image; }
    const QImage* Image() const { return m_image; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    const QImage* m_image = nullptr;
};
