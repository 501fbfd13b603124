#include "app/update/ReleaseNotesView.h"

#include <QDesktopServices>
#include <QPalette>
#include <QStringDecoder>
#include <QTextDocument>

#include "update/FileDownloader.h"

namespace telvo::app {

// One transfer of the page or of an image; it tells the view once, at its end.
struct ReleaseNotesView::Fetch : update::FileDownloaderDelegate {
    ReleaseNotesView* view = nullptr;
    int id = 0;
    bool page = false;
    QUrl url;   // resolved
    QUrl name;  // as the document asked for it
    std::string data;
    std::shared_ptr<update::FileDownloader> downloader;

    ~Fetch() override {
        if (downloader) downloader->cancel();
    }
    void fileDownloadFailed(update::FileDownloader*) override { view->fetchEnded(id, false, {}); }
    bool fileDownloadReadData(update::FileDownloader*, const std::string& body) override {
        data = body;
        return true;
    }
    void fileDownloadDownloadedBytes(update::FileDownloader*, double, double) override {}
    void fileDownloadFinished(update::FileDownloader*) override { view->fetchEnded(id, true, data); }
};

ReleaseNotesView::ReleaseNotesView(QWidget* parent) : QTextBrowser(parent) {
    setOpenLinks(false);
    setOpenExternalLinks(false);
    // No background of its own: the window shows through.
    setFrameShape(QFrame::NoFrame);
    viewport()->setAutoFillBackground(false);
    QPalette p = palette();
    p.setColor(QPalette::Base, Qt::transparent);
    setPalette(p);
    connect(this, &QTextBrowser::anchorClicked, this, &ReleaseNotesView::openLink);
}

ReleaseNotesView::~ReleaseNotesView() = default;

void ReleaseNotesView::clearNotes() {
    fetches_.clear();
    pending_.clear();
    images_.clear();
    base_ = QUrl();
    loaded_ = false;
    clear();
}

void ReleaseNotesView::loadNotes(const QString& address) {
    clearNotes();
    base_ = QUrl(address);
    document()->setBaseUrl(base_);
    fetch(base_, kLargestPage, true, base_);
}

void ReleaseNotesView::fetch(const QUrl& url, uint64_t limit, bool page, const QUrl& name) {
    auto fetch = std::make_unique<Fetch>();
    fetch->view = this;
    fetch->id = nextFetch_++;
    fetch->page = page;
    fetch->url = url;
    fetch->name = name;
    fetch->downloader = update::FileDownloader::create();
    fetch->downloader->setDelegate(fetch.get());
    fetch->downloader->setMaximumLength(limit);
    Fetch* started = fetch.get();
    fetches_[started->id] = std::move(fetch);
    // A refused address (not https) fails on the downloader's queue like any other.
    started->downloader->downloadURL(url.toString(QUrl::FullyEncoded).toStdString());
}

void ReleaseNotesView::fetchEnded(int id, bool ok, const std::string& data) {
    auto node = fetches_.extract(id);
    if (node.empty()) return;
    // The fetch ends with this call; it is destroyed on return.
    std::unique_ptr<Fetch> ended = std::move(node.mapped());
    ended->downloader.reset();
    const QByteArray bytes(data.data(), qsizetype(data.size()));
    if (ended->page) {
        if (ok) {
            QStringDecoder decoder = QStringDecoder::decoderForHtml(bytes);
            const QString html = decoder.isValid() ? QString(decoder.decode(bytes)) : QString::fromUtf8(bytes);
            document()->setBaseUrl(base_);
            setHtml(html);
            loaded_ = true;
        }
        emit notesFinished(ok);
        return;
    }
    pending_.remove(ended->url);
    QImage image;
    if (ok) image.loadFromData(bytes);
    images_.insert(ended->url, image);
    if (!image.isNull()) {
        document()->addResource(QTextDocument::ImageResource, ended->name, image);
        document()->markContentsDirty(0, document()->characterCount());
        viewport()->update();
    }
    emit imageFinished(ended->url, !image.isNull());
}

QVariant ReleaseNotesView::loadResource(int type, const QUrl& name) {
    // Only https images, fetched by us; never a local file, a style sheet or another page.
    if (type != QTextDocument::ImageResource) return QVariant();
    const QUrl url = base_.resolved(name);
    if (url.scheme() != QStringLiteral("https")) return QVariant();
    auto found = images_.constFind(url);
    if (found != images_.constEnd()) return found->isNull() ? QVariant() : QVariant(*found);
    if (!pending_.contains(url) && pending_.size() + images_.size() < kMostImages) {
        pending_.insert(url);
        fetch(url, kLargestImage, false, name);
    }
    return QVariant();
}

void ReleaseNotesView::openLink(const QUrl& link) {
    const QUrl url = base_.isEmpty() ? link : base_.resolved(link);
    const QString scheme = url.scheme().toLower();
    if (scheme == QStringLiteral("http") || scheme == QStringLiteral("https")) QDesktopServices::openUrl(url);
}

}  // namespace telvo::app
