// Render: placeholder until drawing is written.
#include <QImage>

#include "image/ImBitmap.h"

void TImBitmap::Render(QImage&, const TRenderArgs&) {}
