#pragma once

#include <QDialog>

#include <functional>
#include <memory>

namespace Ui {
class TF_About;
}

class QLabel;

namespace tarn {

// "About Tarnwick": the program's name and version and the way to its home page.
class TF_About : public QDialog {
    Q_OBJECT
public:
    static constexpr const char* NoticeText =
        "Tarnwick is free software, made by its developers for everyone\n"
        "who likes to know when new mail is waiting.";
    static constexpr const char* GotchaText = "Gotcha";
    // The bold sans-serif face of the texts: Arial where installed, else its metric twin.
    static QFont textFont(int pixelSize);

    // homePage: the address shown; launchHomePage: what clicking it does.
    TF_About(const QString& homePage, std::function<void()> launchHomePage,
             QWidget* parent = nullptr);
    ~TF_About() override;

    // Both links: the home page in the browser.
    void Label5Click();
    // "Close".
    void Button1Click();
    // The checker window was asked to minimise.
    void setGotcha();
    // Shows the box centred on the desktop and activates it.
    void showCentred();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void fitWidth();
    std::unique_ptr<Ui::TF_About> m_ui;
    std::function<void()> m_launchHomePage;
};

} // namespace tarn
