#pragma once

class QAbstractScrollArea;

namespace brisk {

// Keeps the frame of a framed text area whole at every scale. At a fractional scale the
// edges of a control fall between device pixels: the style's one-pixel lines there are
// lost, and the inner area's fill paints over the right and bottom ones. The area then
// fills its background under the frame and draws the frame as filled pixel-wide edges,
// which always cover a device pixel; at whole scales the style draws it as usual.
void keepFrameVisible(QAbstractScrollArea* area);

}  // namespace brisk
