#include "webview/pageframe.h"

#include "webview/originstrip.h"

#include <QMenu>
#include <QVBoxLayout>
#include <QWebEnginePage>
#include <QWebEngineView>

namespace {

// The engine's own menu offers Back, Reload, Save page and View source, which would reach pages
// the sign-in has left; people still paste user names and passwords.
void offerOnlyEditingMenu(QWebEngineView *view)
{
    view->setContextMenuPolicy(Qt::CustomContextMenu);
    QObject::connect(view, &QWidget::customContextMenuRequested, view, [view](const QPoint &at) {
        auto *menu = new QMenu(view);
        menu->setAttribute(Qt::WA_DeleteOnClose);
        for (const QWebEnginePage::WebAction action :
             {QWebEnginePage::Undo, QWebEnginePage::Redo, QWebEnginePage::Cut, QWebEnginePage::Copy,
              QWebEnginePage::Paste, QWebEnginePage::SelectAll}) {
            menu->addAction(view->pageAction(action));
        }
        menu->popup(view->mapToGlobal(at));
    });
}

} // namespace

PageFrame::PageFrame(QWebEngineView *view, QWidget *content, QWidget *parent)
    : QWidget(parent)
    , view(view)
    , originStrip(new OriginStrip)
{
    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    column->addWidget(originStrip);
    column->addWidget(content, 1);
    offerOnlyEditingMenu(view);
}

void PageFrame::showPage(QWebEnginePage *page)
{
    connect(page, &QWebEnginePage::urlChanged, originStrip, &OriginStrip::showSite);
    connect(page, &QWebEnginePage::loadStarted, originStrip,
            [this] { originStrip->showProgress(0); });
    connect(page, &QWebEnginePage::loadProgress, originStrip, &OriginStrip::showProgress);
    connect(page, &QWebEnginePage::loadFinished, originStrip, &OriginStrip::hideProgress);
    view->setPage(page);
}
