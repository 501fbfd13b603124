#pragma once
// The view that holds the application's own close and minimise buttons: it draws their
// common background ("traffic-all-disabled" while the application is inactive, else
// "traffic-all-graphite" under the graphite tint, else "traffic-all") and posts
// "TVSButtonDidHover" when the pointer enters it and "TVSButtonDidUnHover" when it leaves.
#include <QString>
#include <QWidget>

#include "platform/notify/NotificationCenter.h"

namespace telvo::app {

class TVSWindowControlsView : public QWidget {
    Q_OBJECT
public:
    static constexpr const char* kDidHover = "TVSButtonDidHover";
    static constexpr const char* kDidUnHover = "TVSButtonDidUnHover";

    explicit TVSWindowControlsView(QWidget* parent = nullptr);
    ~TVSWindowControlsView() override;

    // The image the view draws in the current state.
    static QString backgroundImageName();
    // The image the last paint drew.
    const QString& lastDrawnImage() const { return lastDrawn_; }

protected:
    void paintEvent(QPaintEvent*) override;
    void enterEvent(QEnterEvent*) override;
    void leaveEvent(QEvent*) override;

private:
    QString lastDrawn_;
    std::vector<notify::ObserverToken> observers_;
};

}  // namespace telvo::app
