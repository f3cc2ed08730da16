#include "ui/ImageStrip.h"

#include <QPainter>
#include <QPainterPath>

namespace imagestrip {

namespace {

// The 16 colours of the strip.
const QColor kBlack(0, 0, 0);
const QColor kWhite(255, 255, 255);
const QColor kGrey(128, 128, 128);
const QColor kSilver(192, 192, 192);
const QColor kRed(255, 0, 0);
const QColor kMaroon(128, 0, 0);
const QColor kBlue(0, 0, 255);
const QColor kNavy(0, 0, 128);
const QColor kYellow(255, 255, 0);
const QColor kOlive(128, 128, 0);
const QColor kGreen(0, 128, 0);
const QColor kTeal(0, 128, 128);

void DrawNoEntry(QPainter& p) {
    p.setPen(kMaroon);
    p.setBrush(kRed);
    p.drawEllipse(1, 0, 13, 13);
    p.fillRect(4, 6, 8, 2, kWhite);
}

void DrawQuestion(QPainter& p) {
    p.setPen(kNavy);
    p.setBrush(kWhite);
    p.drawEllipse(1, 0, 13, 13);
    p.setPen(QPen(kBlue, 2, Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin));
    p.setBrush(Qt::NoBrush);
    p.drawLine(5, 4, 6, 3);
    p.drawLine(6, 3, 9, 3);
    p.drawLine(10, 4, 10, 5);
    p.drawLine(9, 6, 8, 7);
    p.drawLine(8, 7, 8, 8);
    p.fillRect(7, 10, 2, 2, kBlue);
}

void DrawPage(QPainter& p, int x) {
    p.setPen(kBlack);
    p.setBrush(kWhite);
    p.drawRect(x, 1, 8, 12);
    p.setPen(kGrey);
    for (int y = 4; y <= 10; y += 2)
        p.drawLine(x + 2, y, x + 6, y);
}

void DrawPageIn(QPainter& p) {
    DrawPage(p, 7);
    p.setPen(kGreen);
    // Two arrows pointing right into the page.
    for (int y : {4, 9}) {
        p.drawLine(0, y, 5, y);
        p.drawLine(4, y - 1, 4, y + 1);
        p.drawLine(3, y - 2, 3, y + 2);
    }
}

void DrawWriting(QPainter& p) {
    p.setPen(kOlive);
    p.setBrush(kYellow);
    p.drawRect(1, 3, 10, 11);
    p.setPen(kBlack);
    for (int y = 6; y <= 12; y += 2)
        p.drawLine(3, y, 9, y);
    // The pencil of the writing hand.
    p.setPen(QPen(kMaroon, 2));
    p.drawLine(14, 0, 8, 8);
    p.setPen(kBlack);
    p.drawPoint(7, 9);
    // The hand.
    p.setPen(kMaroon);
    p.setBrush(QColor(255, 255, 0));
    p.drawRect(11, 3, 3, 3);
}

void DrawCamera(QPainter& p) {
    p.setPen(kBlack);
    p.setBrush(kGrey);
    p.drawRect(0, 4, 15, 9);
    p.setBrush(kSilver);
    p.drawRect(4, 2, 5, 2);
    p.setBrush(kBlack);
    p.drawEllipse(5, 6, 6, 6);
    p.setBrush(kTeal);
    p.drawEllipse(7, 8, 2, 2);
    p.fillRect(1, 5, 2, 1, kYellow);
}

void DrawPhone(QPainter& p, bool ringing) {
    // Handset on top, body below.
    p.setPen(kBlack);
    p.setBrush(ringing ? kRed : kMaroon);
    p.drawRect(2, ringing ? 3 : 5, 11, 2);
    p.drawRect(2, ringing ? 3 : 5, 2, 3);
    p.drawRect(11, ringing ? 3 : 5, 2, 3);
    p.setBrush(ringing ? kRed : kMaroon);
    p.drawRect(3, 9, 9, 5);
    p.fillRect(6, 10, 3, 3, kWhite);
    if (ringing) {
        p.setPen(kBlue);
        p.drawLine(0, 0, 1, 1);
        p.drawLine(15, 0, 14, 1);
        p.drawLine(7, 0, 7, 1);
        p.drawLine(0, 5, 0, 7);
        p.drawLine(15, 5, 15, 7);
    }
}

void DrawShapesMouse(QPainter& p) {
    p.setPen(kBlack);
    p.setBrush(kBlue);
    p.drawRect(0, 0, 5, 5);
    p.setBrush(kRed);
    p.drawEllipse(7, 0, 5, 5);
    // The mouse with its cable.
    p.setBrush(kWhite);
    p.drawRoundedRect(3, 7, 7, 7, 2, 2);
    p.drawLine(6, 7, 6, 10);
    p.setPen(kGrey);
    p.drawLine(10, 10, 15, 8);
}

void DrawCross(QPainter& p) {
    p.setPen(QPen(kRed, 3, Qt::SolidLine, Qt::SquareCap));
    p.drawLine(3, 2, 12, 11);
    p.drawLine(12, 2, 3, 11);
}

QImage BuildStrip() {
    QImage strip(kCellCount * kCellWidth, kCellHeight, QImage::Format_RGB32);
    strip.fill(kTransparentKey);
    QPainter p(&strip);
    p.setRenderHint(QPainter::Antialiasing, false);
    const auto cell = [&p](int index, auto draw) {
        p.save();
        p.translate(index * kCellWidth, 0);
        p.setClipRect(0, 0, kCellWidth, kCellHeight);
        draw(p);
        p.restore();
    };
    cell(kNoEntry, DrawNoEntry);
    cell(kQuestion, DrawQuestion);
    cell(kPageIn, DrawPageIn);
    cell(kWriting, DrawWriting);
    cell(kCamera, DrawCamera);
    cell(kPhoneRinging, [](QPainter& q) { DrawPhone(q, true); });
    cell(kPhoneOnHook, [](QPainter& q) { DrawPhone(q, false); });
    cell(kShapesMouse, DrawShapesMouse);
    cell(kCross, DrawCross);
    return strip;
}

QPixmap Keyed(const QImage& image) {
    QImage argb = image.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < argb.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(argb.scanLine(y));
        for (int x = 0; x < argb.width(); ++x) {
            if (line[x] == kTransparentKey)
                line[x] = qRgba(0, 0, 0, 0);
        }
    }
    return QPixmap::fromImage(argb);
}

} // namespace

const QImage& Strip() {
    static const QImage strip = BuildStrip();
    return strip;
}

QPixmap Cell(int index) {
    if (index < 0 || index >= kCellCount)
        return QPixmap();
    return Keyed(Strip().copy(index * kCellWidth, 0, kCellWidth, kCellHeight));
}

QPixmap OpenFolder() {
    QImage image(kCellWidth, kCellHeight, QImage::Format_RGB32);
    image.fill(kTransparentKey);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setPen(kBlack);
    p.setBrush(kOlive);
    p.drawRect(0, 3, 12, 10);
    p.drawRect(1, 1, 5, 2);
    // The open lid.
    QPainterPath lid;
    lid.moveTo(3, 7);
    lid.lineTo(15, 7);
    lid.lineTo(12, 13);
    lid.lineTo(0, 13);
    lid.closeSubpath();
    p.setBrush(kYellow);
    p.drawPath(lid);
    p.end();
    return Keyed(image);
}

} // namespace imagestrip
