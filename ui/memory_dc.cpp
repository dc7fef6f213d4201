#include "ui/memory_dc.h"

#include <QDialog>
#include <QPaintDevice>
#include <QTransform>
#include <QWidget>
#include <algorithm>
#include <atomic>
#include <cmath>

namespace {
std::atomic<int> g_nLiveSurfaces{0};

// The device's size in device-independent pixels: a widget counts in them already, an image or
// pixmap in its own pixels.
QSizeF LogicalSize(const QPaintDevice* pDevice, qreal dpr) {
    if (pDevice->devType() == QInternal::Widget)
        return QSizeF(pDevice->width(), pDevice->height());
    return QSizeF(pDevice->width() / dpr, pDevice->height() / dpr);
}
}  // namespace

CMemoryDC::CMemoryDC(QPainter* pTargetDC, const QWidget* pOwner) : m_pTargetDC(pTargetDC) {
    QPaintDevice* pDevice = pTargetDC->device();
    m_bOffscreen = pDevice->devType() != QInternal::Printer;

    // Clip box: the device, cut down by the target's clip, in the target's logical units. The
    // device counts in device-independent pixels here; the ratio to real pixels is the surface's.
    const qreal dpr = std::max<qreal>(1.0, pDevice->devicePixelRatioF());
    const QRectF rcDeviceAll(QPointF(0, 0), LogicalSize(pDevice, dpr));
    const QTransform toDevice = pTargetDC->worldTransform();
    QRectF rcLogical = toDevice.inverted().mapRect(rcDeviceAll);
    if (pTargetDC->hasClipping())
        rcLogical &= pTargetDC->clipBoundingRect();
    m_rcTarget = rcLogical.toAlignedRect();
    m_rcDevice = toDevice.mapRect(QRectF(m_rcTarget)).toAlignedRect() & rcDeviceAll.toAlignedRect();

    if (m_bOffscreen) {
        // The surface covers just the clip box, made at the device pixel ratio so that text and
        // edges are drawn at the screen's resolution; its painter is shifted so that logical
        // coordinates land where they would on the target.
        const QSize size(std::max(1, m_rcDevice.width()), std::max(1, m_rcDevice.height()));
        m_bmpOffscreen = QImage(QSize(static_cast<int>(std::ceil(size.width() * dpr)),
                                      static_cast<int>(std::ceil(size.height() * dpr))),
                                QImage::Format_ARGB32_Premultiplied);
        m_bmpOffscreen.setDevicePixelRatio(dpr);
        // At a fractional ratio the last column or row is partly outside the clip box.
        m_bmpOffscreen.fill(pTargetDC->background().color());
        ++g_nLiveSurfaces;
        m_dcOffscreen.begin(&m_bmpOffscreen);
        m_dcOffscreen.setWorldTransform(
            toDevice * QTransform::fromTranslate(-m_rcDevice.x(), -m_rcDevice.y()));
        m_dcOffscreen.setFont(pTargetDC->font());
        m_dcOffscreen.setRenderHints(pTargetDC->renderHints());
        m_dcOffscreen.setBackground(pTargetDC->background());
        m_pDC = &m_dcOffscreen;
    } else {
        m_pDC = pTargetDC;
    }
    FillBackground(pOwner);
}

void CMemoryDC::FillBackground(const QWidget* pOwner) {
    if (pOwner == nullptr && m_pTargetDC->device()->devType() == QInternal::Widget)
        pOwner = static_cast<const QWidget*>(m_pTargetDC->device());
    if (pOwner != nullptr && qobject_cast<const QDialog*>(pOwner) != nullptr) {
        m_pDC->fillRect(m_rcTarget, pOwner->palette().color(QPalette::Window));
    } else if (pOwner != nullptr && pOwner->autoFillBackground()) {
        m_pDC->fillRect(m_rcTarget, pOwner->palette().brush(pOwner->backgroundRole()));
    } else {
        m_pDC->fillRect(m_rcTarget, m_pTargetDC->background().color());
    }
}

CMemoryDC::~CMemoryDC() {
    if (!m_bOffscreen)
        return;  // drew straight to the target
    m_dcOffscreen.end();
    if (!m_rcDevice.isEmpty()) {
        m_pTargetDC->save();
        m_pTargetDC->setWorldTransform(QTransform());
        m_pTargetDC->setCompositionMode(QPainter::CompositionMode_Source);
        const qreal dpr = m_bmpOffscreen.devicePixelRatio();
        m_pTargetDC->drawImage(QRectF(m_rcDevice), m_bmpOffscreen,
                               QRectF(0, 0, m_rcDevice.width() * dpr, m_rcDevice.height() * dpr));
        m_pTargetDC->restore();
    }
    m_bmpOffscreen = QImage();
    --g_nLiveSurfaces;
}

int CMemoryDC::LiveSurfaceCount() {
    return g_nLiveSurfaces.load();
}
