#include "updatenotice.h"

#include <QDebug>
#include <QMessageBox>

void UpdateNotice::show(const QString& text)
{
    qDebug().noquote() << Q_FUNC_INFO << text;
    if (presenter()) {
        presenter()(text);
        return;
    }
    QMessageBox box(QMessageBox::Information, QStringLiteral("OSTREL Client Software"), text, QMessageBox::Ok);
    box.exec();
}

void UpdateNotice::setPresenter(const Presenter& presenter)
{
    UpdateNotice::presenter() = presenter;
}

UpdateNotice::Presenter& UpdateNotice::presenter()
{
    static Presenter instance;
    return instance;
}
