#pragma once
// An image button (the title bar's close and minimise buttons): it shows its image, or its
// alternate image while pressed. A button with a hover image belongs to the hover group: on
// "TVSButtonDidHover" it remembers its image as the standard image and shows the hover image,
// on "TVSButtonDidUnHover" it shows the standard image again, and after a click it posts
// "TVSButtonDidUnHover" so that every button of the group returns to its standard image.
#include <QAbstractButton>
#include <QString>

#include "platform/notify/NotificationCenter.h"

namespace telvo::app {

class TVSImageButton : public QAbstractButton {
    Q_OBJECT
public:
    explicit TVSImageButton(QWidget* parent = nullptr);
    ~TVSImageButton() override;

    const QString& image() const { return image_; }
    void setImage(const QString& name);
    const QString& alternateImage() const { return alternate_; }
    void setAlternateImage(const QString& name) { alternate_ = name; }
    const QString& hoverImage() const { return hover_; }
    void setHoverImage(const QString& name) { hover_ = name; }
    const QString& standardImage() const { return standard_; }
    void setStandardImage(const QString& name) { standard_ = name; }
    bool partOfHoverGroup() const { return partOfHoverGroup_; }
    void setPartOfHoverGroup(bool part) { partOfHoverGroup_ = part; }

    // The image a paint draws now, and the one the last paint drew.
    QString imageToDraw() const { return isDown() && !alternate_.isEmpty() ? alternate_ : image_; }
    const QString& lastDrawnImage() const { return lastDrawn_; }

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent*) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void didHover();
    void didUnHover();

    QString image_, alternate_, hover_, standard_, lastDrawn_;
    bool partOfHoverGroup_ = false;
    std::vector<notify::ObserverToken> observers_;
};

}  // namespace telvo::app
