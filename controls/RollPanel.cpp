#include "RollPanel.h"

#include "ControlBitmaps.h"
#include "QadGraphTools.h"

#include <QLayout>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPalette>

#include <algorithm>
#include <cmath>

namespace {

constexpr int MinimumAnimationSpeed = 50;
constexpr int GlyphSize = 14;
constexpr int CaptionGlyphGap = 4; // least room between caption text and glyph
constexpr int ChildInset = 4;
constexpr int DragBand = 4;             // height of the drag handle above the bottom margin
constexpr int MinimumBodyHeight = 12;   // a drag leaves at least this much below the caption

}

TRollPanel::TRollPanel(QWidget* parent) : QWidget(parent), m_animator(new TQadAnimator(this))
{
    const QPalette pal = palette();
    m_captionFont = font();
    m_captionFont.setBold(true);
    m_captionFontColor = pal.color(QPalette::HighlightedText);
    m_marginColor = pal.color(QPalette::Window);
    m_borderColor = pal.color(QPalette::Window);
    m_captionColorFrom = pal.color(QPalette::Highlight);
    m_captionColorTo = pal.color(QPalette::Window);
    m_panelColorFrom = pal.color(QPalette::Window);
    m_panelColorTo = pal.color(QPalette::Window);

    TAnimationOptions& options = m_animator->Options();
    options.AnimatedProperty = apHeight;
    options.Quadratic = true;
    options.EaseOut = false;
    options.Control = this;
    options.Duration = 150;
    m_animator->OnFinish = [this](QObject*) { AnimationFinished(); };

    resize(185, 41);   // the usual size of a freshly placed panel
    setMouseTracking(true);
    setSizePolicy(AlignSizePolicy(m_align));
    LoadGlyph(QStringLiteral("GLYPH2A"));
    UpdateChildArea();
}

template <class T> void TRollPanel::SetAndRepaint(T& field, const T& value)
{
    field = value;
    update();
}

void TRollPanel::SetCaption(const QString& caption)
{
    SetAndRepaint(m_caption, caption);
}

void TRollPanel::SetAlign(TAlign align)
{
    m_align = align;
    setSizePolicy(AlignSizePolicy(align));
    updateGeometry();
}

void TRollPanel::SetRadius(int radius)
{
    SetAndRepaint(m_radius, radius);
}

int TRollPanel::AnimationSpeed() const
{
    return m_animator->Options().Duration;
}

void TRollPanel::SetAnimationSpeed(int milliseconds)
{
    m_animator->Options().Duration = std::max(milliseconds, MinimumAnimationSpeed);
}

void TRollPanel::SetCaptionFont(const QFont& font)
{
    SetAndRepaint(m_captionFont, font);
}

void TRollPanel::SetCaptionFontColor(const QColor& color)
{
    SetAndRepaint(m_captionFontColor, color);
}

int TRollPanel::ClientWidth() const
{
    return width() - 2 * m_margin - 5;
}

int TRollPanel::ClientHeight() const
{
    return height() - 2 * m_margin - m_captionHeight - 3;
}

void TRollPanel::SetMargin(int margin)
{
    SetAndRepaint(m_margin, margin);
    UpdateChildArea();
}

void TRollPanel::SetMarginColor(const QColor& color)
{
    SetAndRepaint(m_marginColor, color);
}

void TRollPanel::SetCaptionHeight(int height)
{
    SetAndRepaint(m_captionHeight, height);
    UpdateChildArea();
}

void TRollPanel::SetBorderColor(const QColor& color)
{
    SetAndRepaint(m_borderColor, color);
}

void TRollPanel::SetAllowResize(bool allow)
{
    SetAndRepaint(m_allowResize, allow);
}

void TRollPanel::SetCaptionGradientMode(TGradientMode mode)
{
    SetAndRepaint(m_captionGradientMode, mode);
}

void TRollPanel::SetCaptionColorFrom(const QColor& color)
{
    SetAndRepaint(m_captionColorFrom, color);
}

void TRollPanel::SetCaptionColorTo(const QColor& color)
{
    SetAndRepaint(m_captionColorTo, color);
}

void TRollPanel::SetCaptionGradientType(TGradientType type)
{
    SetAndRepaint(m_captionGradientType, type);
}

void TRollPanel::SetPanelGradientMode(TGradientMode mode)
{
    SetAndRepaint(m_panelGradientMode, mode);
}

void TRollPanel::SetPanelColorFrom(const QColor& color)
{
    SetAndRepaint(m_panelColorFrom, color);
}

void TRollPanel::SetPanelColorTo(const QColor& color)
{
    SetAndRepaint(m_panelColorTo, color);
}

void TRollPanel::SetPanelGradientType(TGradientType type)
{
    SetAndRepaint(m_panelGradientType, type);
}

int TRollPanel::CollapsedHeight() const
{
    return 2 * m_margin + m_captionHeight + 2;
}

void TRollPanel::SetState(TState state)
{
    if (state == m_state || !m_animator->IsIdle())
        return;
    ReleaseLayoutConstraint();
    int target = 0;
    if (state == rpCollapsed) {
        LoadGlyph(QStringLiteral("GLYPH1A"));
        m_expandedHeight = height();
        if (m_hideChildren)
            SetChildrenVisible(false);
        m_state = rpCollapsed;
        m_resizing = false;
        unsetCursor();
        target = CollapsedHeight();
    } else {
        LoadGlyph(QStringLiteral("GLYPH2A"));
        m_state = rpExpanded;
        int newSize = m_expandedHeight;
        if (OnStartExpanding)
            OnStartExpanding(this, newSize);
        target = std::max(newSize, height());
        m_expandedHeight = target;
    }
    update();
    if (m_animate) {
        m_animator->Options().EaseOut = true;
        m_animator->Start(height(), target);
    } else {
        // A change without animation ends at once, with the same follow-up.
        SetPanelHeight(target);
        AnimationFinished();
    }
}

void TRollPanel::AnimationFinished()
{
    if (m_hideChildren && m_state == rpExpanded)
        SetChildrenVisible(true);
    if (m_state == rpExpanded) {
        if (OnExpand)
            OnExpand(this);
    } else if (OnCollapse) {
        OnCollapse(this);
    }
}

void TRollPanel::SetChildrenVisible(bool visible)
{
    const auto children = findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
    for (QWidget* child : children) {
        if (!child->isWindow())
            child->setVisible(visible);
    }
}

void TRollPanel::LoadGlyph(const QString& name)
{
    m_glyph = ControlBitmaps::Load(name);
}

void TRollPanel::UpdateChildArea()
{
    setContentsMargins(ChildInset, m_margin + m_captionHeight + ChildInset, ChildInset, ChildInset);
}

// A layout on the panel would by default raise the panel's minimum size to
// what its widgets need, which would stop the panel from collapsing; the
// panel's own height wins instead and the children are clipped.
void TRollPanel::ReleaseLayoutConstraint()
{
    if (layout() && layout()->sizeConstraint() == QLayout::SetDefaultConstraint) {
        layout()->setSizeConstraint(QLayout::SetNoConstraint);
        setMinimumSize(0, 0);
    }
}

void TRollPanel::SetPanelHeight(int height)
{
    resize(width(), height);
}

QSize TRollPanel::sizeHint() const
{
    return size();
}

QSize TRollPanel::minimumSizeHint() const
{
    return {0, 0};
}

void TRollPanel::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    if (m_align != alClient)
        updateGeometry();
    if (OnResize)
        OnResize(this);
}

void TRollPanel::mousePressEvent(QMouseEvent* event)
{
    event->accept();
    if (event->button() != Qt::LeftButton)
        return;
    LoadGlyph(m_state == rpCollapsed ? QStringLiteral("GLYPH1B") : QStringLiteral("GLYPH2B"));
    update();
}

void TRollPanel::mouseReleaseEvent(QMouseEvent* event)
{
    event->accept();
    if (event->button() != Qt::LeftButton)
        return;
    // Coordinates are taken as unsigned 16-bit values, so a release left of
    // or above the panel never counts as inside the caption.
    const QPoint pos = event->position().toPoint();
    const int x = static_cast<quint16>(pos.x());
    const int y = static_cast<quint16>(pos.y());
    const bool inCaption = m_margin < x && x < width() - m_margin - 1 && m_margin < y
                           && y < m_margin + m_captionHeight;
    const bool clickable = m_align == alNone || m_align == alTop || m_align == alBottom;
    if (inCaption && clickable)
        SetState(m_state == rpExpanded ? rpCollapsed : rpExpanded);
}

void TRollPanel::mouseMoveEvent(QMouseEvent* event)
{
    event->accept();
    if (m_state != rpExpanded || !m_allowResize)
        return;
    const QPoint pos = event->position().toPoint();
    const int x = pos.x();
    const int y = pos.y();
    const bool inBand = height() - m_margin - DragBand <= y && y < height() - m_margin;
    if (inBand && m_margin < x && x < width() - m_margin - 1)
        setCursor(Qt::SizeVerCursor);
    else
        unsetCursor();

    const bool leftDown = event->buttons() & Qt::LeftButton;
    const int screenY = qRound(event->globalPosition().y());
    if (!leftDown)
        m_resizing = false;
    if (inBand && leftDown && !m_resizing) {
        m_resizing = true;
        m_dragOffset = screenY - height();
        ReleaseLayoutConstraint();
    }
    if (m_resizing) {
        SetPanelHeight(std::max(screenY - m_dragOffset, 2 * m_margin + m_captionHeight + MinimumBodyHeight));
        update();
    }
}

void TRollPanel::FillArea(QPainter& canvas, const QRect& area, TGradientMode mode,
                          const QColor& from, const QColor& to, TGradientType type) const
{
    if (mode == gmNone) {
        canvas.fillRect(area, from);
        return;
    }
    const QColor second = mode == gmUser ? to : QadGraphTools::LightenColor(from, 40);
    if (type == gtVertical)
        QadGraphTools::FillGradientColumns(canvas, from, second, area);
    else
        QadGraphTools::FillGradientRows(canvas, from, second, area);
}

void TRollPanel::paintEvent(QPaintEvent*)
{
    QPainter canvas(this);
    const int m = m_margin;
    const int r = width() - m - 1;
    const int b = height() - m - 1;
    const int c = m_captionHeight;

    canvas.fillRect(rect(), m_marginColor);
    canvas.setPen(QPen(m_borderColor, 1));
    QadGraphTools::DrawFrame(canvas, m, m, r, m + c + 1);
    FillArea(canvas, QRect(QPoint(m + 1, m + 1), QPoint(r - 1, m + c)), m_captionGradientMode,
             m_captionColorFrom, m_captionColorTo, m_captionGradientType);

    canvas.setFont(m_captionFont);
    canvas.setPen(m_captionFontColor);
    const QFontMetrics metrics(m_captionFont);
    const int textTop = m + 1 + (c - metrics.height()) / 2;
    const int glyphLeft = r - GlyphSize - 8;
    // A caption wider than the room before the glyph ends in "..." instead of
    // running under it.
    const int textRoom = std::max(0, glyphLeft - CaptionGlyphGap - (m + 5));
    canvas.drawText(m + 5, textTop + metrics.ascent(), metrics.elidedText(m_caption, Qt::ElideRight, textRoom));
    canvas.drawPixmap(glyphLeft, m + (c - GlyphSize) / 2, m_glyph);

    if (CollapsedHeight() >= height())
        return;
    canvas.setPen(QPen(m_borderColor, 1));
    QadGraphTools::DrawFrame(canvas, m, m + c + 1, r, b);
    FillArea(canvas, QRect(QPoint(m + 1, m + c + 2), QPoint(r - 1, b - 1)), m_panelGradientMode,
             m_panelColorFrom, m_panelColorTo, m_panelGradientType);
    if (m_radius < r - (m + 1) && m_radius < b - (m + c + 2))
        DrawBevel(canvas, m + 1, m + c + 2, r, b);
}

namespace {

// A quarter ellipse from `from` to `to`, drawn counter-clockwise starting at
// `startAngle` (180: from the left end down to the bottom; 270: from the
// bottom up to the right end). Its axes run through both end points; when
// they leave no room for a curve a straight line joins the points.
void QuarterArc(QPainterPath& path, QPointF from, QPointF to, qreal startAngle)
{
    const qreal rx = std::abs(to.x() - from.x());
    const qreal ry = std::abs(to.y() - from.y());
    if (rx <= 0 || ry <= 0) {
        path.lineTo(to);
        return;
    }
    const QPointF centre = startAngle == 180 ? QPointF(to.x(), from.y()) : QPointF(from.x(), to.y());
    path.arcTo(QRectF(centre.x() - rx, centre.y() - ry, 2 * rx, 2 * ry), startAngle, 90);
}

}

// Two lines with rounded lower corners: the highlight and, one pixel
// further out on the left and in on the right and bottom, the shadow.
void TRollPanel::DrawBevel(QPainter& canvas, int left, int top, int right, int bottom) const
{
    const int rad = m_radius;

    QPainterPath light;
    light.moveTo(left + 1, top + 1);
    light.lineTo(left + 1, bottom - 1 - rad);
    QuarterArc(light, light.currentPosition(), QPointF(left + 1 + rad, bottom), 180);
    light.lineTo(right - 1 - rad, bottom - 1);
    QuarterArc(light, light.currentPosition(), QPointF(right, bottom - rad), 270);
    light.lineTo(right - 1, top);

    QPainterPath shadow;
    shadow.moveTo(left, top + 1);
    shadow.lineTo(left, bottom - rad - 2);
    QuarterArc(shadow, shadow.currentPosition(), QPointF(left + rad, bottom - 1), 180);
    shadow.lineTo(right - 2 - rad, bottom - 2);
    QuarterArc(shadow, shadow.currentPosition(), QPointF(right - 1, bottom - 1 - rad), 270);
    shadow.lineTo(right - 2, top);

    canvas.setBrush(Qt::NoBrush);
    canvas.setPen(QPen(palette().color(QPalette::Light), 1));
    canvas.drawPath(light);
    canvas.setPen(QPen(palette().color(QPalette::Dark), 1));
    canvas.drawPath(shadow);
}
