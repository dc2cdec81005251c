#include "ui/pic_view.h"

#include <QImage>
#include <QPainter>
#include <QPalette>

CPicView::CPicView(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("pictureView"));
    // The pane's background is the window colour, erased before every paint.
    setAutoFillBackground(true);
    setBackgroundRole(QPalette::Base);
    // Clicking the pane makes it the active one (the menu's instrument
    // commands follow the active pane).
    setFocusPolicy(Qt::ClickFocus);
    setMinimumWidth(1);
}

void CPicView::paintEvent(QPaintEvent*) {
    if (m_image == nullptr || m_image->isNull())
        return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform, true);
    painter.drawImage(rect(), *m_image);
}
