#pragma once
// The update window's release notes: a page fetched with the update engine's downloader (https
// only, status 200, at most 1 MiB) and shown as rich text, its https images fetched the same
// way and added to the document as they come. Nothing is read from local files and nothing
// navigates inside the view: a click on an http or https link opens it in the browser
// (QDesktopServices::openUrl), any other link does nothing. No scripts run in a text browser.
#include <QHash>
#include <QImage>
#include <QSet>
#include <QTextBrowser>
#include <QUrl>
#include <map>
#include <memory>
#include <string>

namespace telvo::app {

class ReleaseNotesView : public QTextBrowser {
    Q_OBJECT
public:
    static constexpr uint64_t kLargestPage = uint64_t(1) << 20;
    static constexpr uint64_t kLargestImage = uint64_t(1) << 20;
    static constexpr int kMostImages = 32;

    explicit ReleaseNotesView(QWidget* parent = nullptr);
    ~ReleaseNotesView() override;

    // Empties the view, stops what it was fetching, and fetches the page at `address`.
    void loadNotes(const QString& address);
    // Empties the view and stops what it was fetching.
    void clearNotes();
    // The page being shown or fetched.
    const QUrl& notesUrl() const { return base_; }
    // Whether the page came (and is shown).
    bool notesLoaded() const { return loaded_; }
    // The https images that came and are in the document.
    int imagesLoaded() const { return int(images_.size()); }

signals:
    void notesFinished(bool loaded);
    void imageFinished(const QUrl& url, bool loaded);

protected:
    QVariant loadResource(int type, const QUrl& name) override;

private:
    struct Fetch;
    void openLink(const QUrl& link);
    void fetch(const QUrl& url, uint64_t limit, bool page, const QUrl& name);
    void fetchEnded(int id, bool ok, const std::string& data);

    QUrl base_;
    bool loaded_ = false;
    int nextFetch_ = 1;
    std::map<int, std::unique_ptr<Fetch>> fetches_;
    QHash<QUrl, QImage> images_;
    QSet<QUrl> pending_;
};

}  // namespace telvo::app
