#pragma once

#include <QString>

#include <functional>

// How the update step tells the user its outcome: by default a modal
// information box without a parent, which waits for the user. A presenter can
// take its place (tests record the texts instead of waiting for a click).
class UpdateNotice
{
public:
    using Presenter = std::function<void(const QString& text)>;

    static void show(const QString& text);

    // An empty presenter restores the message box.
    static void setPresenter(const Presenter& presenter);

private:
    static Presenter& presenter();
};
