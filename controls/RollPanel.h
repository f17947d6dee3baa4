// A container panel with a caption bar that collapses the panel to its
// caption or expands it again when clicked, with an animated change of
// height, gradient-filled caption and body, a state glyph at the right end of
// the caption, rounded lower corners and a drag handle at the bottom edge.
//
// Children: place them inside ChildRect() (the area below the caption, 4
// pixels in from the sides and the bottom). It is also the panel's contents
// rectangle, so a layout installed on the panel places its widgets there;
// such a layout does not stop the panel from collapsing. Absolutely placed
// children can be arranged from OnResize using ClientWidth/ClientHeight.
//
// In a parent layout the panel asks for its current size; aligned top,
// bottom or none its height is fixed to that, so the layout follows every
// collapse, expand and drag.
#pragma once

#include "Align.h"
#include "QadAnimator.h"

#include <QColor>
#include <QFont>
#include <QPixmap>
#include <QString>
#include <QWidget>

#include <functional>

enum TState { rpExpanded, rpCollapsed };
enum TGradientMode { gmNone, gmUser, gmAuto };
enum TGradientType { gtVertical, gtHorizontal };

class TRollPanel : public QWidget {
    Q_OBJECT
public:
    using TNotifyEvent = std::function<void(QObject* Sender)>;
    using TResizeEvent = std::function<void(QObject* Sender, int& NewSize)>;

    explicit TRollPanel(QWidget* parent = nullptr);

    TNotifyEvent OnCollapse;             // a collapse has ended
    TNotifyEvent OnExpand;               // an expand has ended
    TResizeEvent OnStartExpanding;       // expanding starts; may change the target height
    TNotifyEvent OnResize;               // the panel's size changed

    QString Caption() const { return m_caption; }
    void SetCaption(const QString& caption);
    TAlign Align() const { return m_align; }
    void SetAlign(TAlign align);

    int Radius() const { return m_radius; }
    void SetRadius(int radius);
    int AnimationSpeed() const;          // milliseconds per collapse or expand
    void SetAnimationSpeed(int milliseconds);
    QFont CaptionFont() const { return m_captionFont; }
    void SetCaptionFont(const QFont& font);
    QColor CaptionFontColor() const { return m_captionFontColor; }
    void SetCaptionFontColor(const QColor& color);
    int ClientWidth() const;
    int ClientHeight() const;
    int Margin() const { return m_margin; }
    void SetMargin(int margin);
    QColor MarginColor() const { return m_marginColor; }
    void SetMarginColor(const QColor& color);
    int CaptionHeight() const { return m_captionHeight; }
    void SetCaptionHeight(int height);
    QColor BorderColor() const { return m_borderColor; }
    void SetBorderColor(const QColor& color);
    bool AllowResize() const { return m_allowResize; }
    void SetAllowResize(bool allow);
    bool Animate() const { return m_animate; }
    void SetAnimate(bool animate) { m_animate = animate; }
    bool HideChildren() const { return m_hideChildren; }
    void SetHideChildren(bool hide) { m_hideChildren = hide; }
    TState State() const { return m_state; }
    void SetState(TState state);

    TGradientMode CaptionGradientMode() const { return m_captionGradientMode; }
    void SetCaptionGradientMode(TGradientMode mode);
    QColor CaptionColorFrom() const { return m_captionColorFrom; }
    void SetCaptionColorFrom(const QColor& color);
    QColor CaptionColorTo() const { return m_captionColorTo; }
    void SetCaptionColorTo(const QColor& color);
    TGradientType CaptionGradientType() const { return m_captionGradientType; }
    void SetCaptionGradientType(TGradientType type);
    TGradientMode PanelGradientMode() const { return m_panelGradientMode; }
    void SetPanelGradientMode(TGradientMode mode);
    QColor PanelColorFrom() const { return m_panelColorFrom; }
    void SetPanelColorFrom(const QColor& color);
    QColor PanelColorTo() const { return m_panelColorTo; }
    void SetPanelColorTo(const QColor& color);
    TGradientType PanelGradientType() const { return m_panelGradientType; }
    void SetPanelGradientType(TGradientType type);

    // Where children go: below the caption, 4 pixels in from the other sides.
    QRect ChildRect() const { return contentsRect(); }
    // The height animator (its options hold AnimationSpeed).
    TQadAnimator* Animator() const { return m_animator; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    template <class T> void SetAndRepaint(T& field, const T& value);
    void LoadGlyph(const QString& name);
    int CollapsedHeight() const;
    void ReleaseLayoutConstraint();
    void SetPanelHeight(int height);
    void SetChildrenVisible(bool visible);
    void AnimationFinished();
    void UpdateChildArea();
    void FillArea(QPainter& canvas, const QRect& area, TGradientMode mode, const QColor& from,
                  const QColor& to, TGradientType type) const;
    void DrawBevel(QPainter& canvas, int left, int top, int right, int bottom) const;

    QString m_caption;
    TAlign m_align = alNone;
    int m_radius = 4;
    QFont m_captionFont;
    QColor m_captionFontColor;
    int m_margin = 2;
    QColor m_marginColor;
    int m_captionHeight = 16;
    QColor m_borderColor;
    bool m_allowResize = true;
    bool m_animate = true;
    bool m_hideChildren = false;
    TState m_state = rpExpanded;
    TGradientMode m_captionGradientMode = gmAuto;
    QColor m_captionColorFrom;
    QColor m_captionColorTo;
    TGradientType m_captionGradientType = gtVertical;
    TGradientMode m_panelGradientMode = gmAuto;
    QColor m_panelColorFrom;
    QColor m_panelColorTo;
    TGradientType m_panelGradientType = gtVertical;

    int m_expandedHeight = 0;            // height to return to; 0 until the first collapse
    bool m_resizing = false;
    int m_dragOffset = 0;                // screen Y of the cursor minus the height at drag start
    TQadAnimator* m_animator;            // child
    QPixmap m_glyph;
};
