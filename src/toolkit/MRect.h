#pragma once

#include <QRect>

// A control's area in its host's client coordinates. Right and bottom lie just outside the
// area, so a 7-pixel-wide control at x 10 has right 17 and the point x 17 is not in it.
struct MRect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;

    static MRect FromSize(int x, int y, int width, int height) {
        return MRect{x, y, x + width, y + height};
    }

    int Width() const { return right - left; }
    int Height() const { return bottom - top; }
    bool IsEmpty() const { return right <= left || bottom <= top; }
    bool Contains(int x, int y) const { return x >= left && x < right && y >= top && y < bottom; }

    // Union of two areas; an empty area adds nothing, two empty areas give an empty one.
    MRect United(const MRect& other) const {
        if (other.IsEmpty()) {
            return IsEmpty() ? MRect{} : *this;
        }
        if (IsEmpty()) {
            return other;
        }
        return MRect{left < other.left ? left : other.left, top < other.top ? top : other.top,
                     right > other.right ? right : other.right,
                     bottom > other.bottom ? bottom : other.bottom};
    }

    MRect Intersected(const MRect& other) const {
        MRect result{left > other.left ? left : other.left, top > other.top ? top : other.top,
                     right < other.right ? right : other.right,
                     bottom < other.bottom ? bottom : other.bottom};
        return result.IsEmpty() ? MRect{} : result;
    }

    QRect ToQRect() const { return QRect(left, top, Width(), Height()); }

    bool operator==(const MRect& other) const = default;
};
