// Image comparison that does not depend on the CPU: Qt's premultiply and blend paths round
// differently on SSE2, AVX2 and AVX-512, so exact pixel equality holds only on one machine.
// Thread: any.
#pragma once

#include <QImage>

// The largest difference of one channel (alpha, red, green, blue) between two images of the
// same size, both compared in premultiplied ARGB; -1 when the sizes differ.
int MaxChannelDifference(const QImage& a, const QImage& b);
