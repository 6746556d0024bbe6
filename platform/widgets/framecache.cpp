// The frame of a group box is a scaled nine-part picture plus a laid-out title; drawing it costs
// more than the displays inside it, and under Fusion it wakes worker threads to scale the picture.
// Redrawn under every display that changes, that is most of a run cycle's drawing.
#include "platform/widgets/framecache.h"

#include <QEvent>
#include <QGroupBox>
#include <QPaintEvent>
#include <QPainter>
#include <QPixmap>

namespace {

class FrameCache : public QObject {
  public:
    explicit FrameCache(QGroupBox *box) : QObject(box), box_(box) { box->installEventFilter(this); }

  protected:
    bool eventFilter(QObject *, QEvent *event) override {
        if (event->type() != QEvent::Paint || drawing_ || box_->isCheckable())
            return false;
        if (frame_.isNull() || !(currentKey() == key_)) {
            // A widget cannot be drawn into a picture while it paints: this time the box draws
            // itself, and the picture is taken once the painting is over.
            if (!redrawQueued_) {
                redrawQueued_ = true;
                QMetaObject::invokeMethod(this, &FrameCache::draw, Qt::QueuedConnection);
            }
            return false;
        }
        QPainter painter(box_);
        painter.setClipRegion(static_cast<QPaintEvent *>(event)->region());
        painter.drawPixmap(0, 0, frame_);
        return true;
    }

  private:
    // Everything the box's own drawing depends on.
    struct Key {
        QSize size;
        qreal ratio = 0;
        QString title;
        bool enabled = false, active = false, flat = false;
        int alignment = 0;
        qint64 palette = 0;
        QString font;
        const void *style = nullptr;
        bool operator==(const Key &o) const {
            return size == o.size && ratio == o.ratio && title == o.title && enabled == o.enabled &&
                   active == o.active && flat == o.flat && alignment == o.alignment &&
                   palette == o.palette && font == o.font && style == o.style;
        }
    };

    Key currentKey() const {
        return {box_->size(),
                box_->devicePixelRatioF(),
                box_->title(),
                box_->isEnabled(),
                box_->isActiveWindow(),
                box_->isFlat(),
                static_cast<int>(box_->alignment()),
                box_->palette().cacheKey(),
                box_->font().key(),
                box_->style()};
    }

    void draw() {
        redrawQueued_ = false;
        key_ = currentKey();
        QPixmap frame(key_.size * key_.ratio);
        frame.setDevicePixelRatio(key_.ratio);
        frame.fill(Qt::transparent);
        // The box alone, without the panel behind it or the controls in it: both are drawn as
        // before, under and over the copy.
        drawing_ = true;
        box_->render(&frame, QPoint(), QRegion(), QWidget::RenderFlags());
        drawing_ = false;
        frame_ = frame;
    }

    QGroupBox *box_;
    QPixmap frame_;
    Key key_;
    bool drawing_ = false;
    bool redrawQueued_ = false;
};

} // namespace

namespace kvexplatform {

void cacheGroupBoxFrames(QWidget *root) {
    for (QGroupBox *box : root->findChildren<QGroupBox *>())
        new FrameCache(box);
}

} // namespace kvexplatform
