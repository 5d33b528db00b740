// SPDX-License-Identifier: GPL-3.0-or-later
#include "ball/ballshape.h"

#include <QRect>

#include <vector>

namespace vb::ball {

QRegion shapeOf(const QImage& image, int minAlpha)
{
    if (image.isNull())
        return QRegion();
    const QImage img = image.convertToFormat(QImage::Format_ARGB32);
    // Bands of rows with the same opaque runs, each run a rectangle, top to bottom and left to
    // right: the order setRects wants, and few rectangles for the window system.
    std::vector<QRect> rects;
    std::vector<QRect> row;
    size_t bandStart = 0;
    for (int y = 0; y < img.height(); ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(img.constScanLine(y));
        row.clear();
        int x = 0;
        while (x < img.width()) {
            while (x < img.width() && qAlpha(line[x]) < minAlpha)
                ++x;
            const int start = x;
            while (x < img.width() && qAlpha(line[x]) >= minAlpha)
                ++x;
            if (x > start)
                row.emplace_back(start, y, x - start, 1);
        }
        bool same = !row.empty() && rects.size() - bandStart == row.size() &&
                    rects.back().bottom() == y - 1;
        for (size_t i = 0; same && i < row.size(); ++i)
            same = rects[bandStart + i].left() == row[i].left() &&
                   rects[bandStart + i].width() == row[i].width();
        if (same) {
            for (size_t i = bandStart; i < rects.size(); ++i)
                rects[i].setBottom(y);
        } else if (!row.empty()) {
            bandStart = rects.size();
            rects.insert(rects.end(), row.begin(), row.end());
        }
    }
    QRegion r;
    if (!rects.empty())
        r.setRects(rects.data(), int(rects.size()));
    return r;
}

} // namespace vb::ball
