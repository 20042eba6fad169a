#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QMouseEvent>
#include <QTemporaryDir>
#include <cstdlib>
#include <string>
#include <vector>

#include "decor/DefaultBrowser.h"
#include "decor/LinkStatic.h"

namespace {

// Records what would have been opened or started; never opens anything.
struct FakeDesktop {
    bool desktopOpens = false;
    std::optional<QString> browser;
    int startResult = LinkStatic::kOpened;
    std::vector<QString> desktopUrls;
    std::vector<QStringList> started;

    LinkOpener Opener() {
        LinkOpener opener;
        opener.openWithDesktop = [this](const QString& url) {
            desktopUrls.push_back(url);
            return desktopOpens;
        };
        opener.browserCommand = [this] { return browser; };
        opener.startProgram = [this](const QString& program, const QStringList& arguments) {
            started.push_back(QStringList{program} + arguments);
            return startResult;
        };
        return opener;
    }
};

struct ErrorCase {
    int code;
    const char* text;
};

class LinkErrorText : public testing::TestWithParam<ErrorCase> {};

TEST_P(LinkErrorText, MatchesTheTable) {
    EXPECT_EQ(LinkStatic::ErrorText(GetParam().code).toStdString(), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Codes, LinkErrorText,
    testing::Values(ErrorCase{0, "The operating system is out\nof memory or resources."},
                    ErrorCase{26, "A sharing violation occurred. "},
                    ErrorCase{32, "The specified dynamic-link library was not found."},
                    ErrorCase{42, "Unknown Error (42) occurred."},
                    ErrorCase{33, "Unknown Error (33) occurred."},
                    ErrorCase{-7, "Unknown Error (-7) occurred."}));

struct CutCase {
    const char* commandLine;
    const char* cut;
};

class BrowserPlaceholder : public testing::TestWithParam<CutCase> {};

TEST_P(BrowserPlaceholder, IsCutFromTheCommandLine) {
    EXPECT_EQ(LinkStatic::CutPlaceholder(QString::fromUtf8(GetParam().commandLine)).toStdString(),
              GetParam().cut);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, BrowserPlaceholder,
    testing::Values(
        // A quoted placeholder goes with its opening quote.
        CutCase{"\"C:\\Program Files\\Browser\\browse.exe\" -nohome \"%1\"",
                "\"C:\\Program Files\\Browser\\browse.exe\" -nohome "},
        CutCase{"browse.exe %1", "browse.exe "},
        // The quoted form wins over an earlier bare one.
        CutCase{"browse --x=%1 \"%1\"", "browse --x=%1 "},
        // Desktop entries name the address with field codes.
        CutCase{"firefox %u", "firefox "},
        CutCase{"/usr/bin/chromium --new-window \"%U\"", "/usr/bin/chromium --new-window "},
        CutCase{"epiphany %F --private", "epiphany "}, CutCase{"lynx", "lynx"}, CutCase{"", ""}));

TEST(LinkStaticBrowserLine, AddsOneSpaceAndTheAddressAfterTheCut) {
    EXPECT_EQ(LinkStatic::BrowserCommandLine(QStringLiteral("\"/opt/web/browse\" \"%1\""),
                                             QStringLiteral("https://example.org/"))
                  .toStdString(),
              "\"/opt/web/browse\"  https://example.org/");
    EXPECT_EQ(LinkStatic::BrowserCommandLine(QStringLiteral("firefox %u"),
                                             QStringLiteral("https://example.org/"))
                  .toStdString(),
              "firefox  https://example.org/");
}

class LinkStaticOpen : public testing::Test {
protected:
    LinkStaticOpen() {
        link.SetUrl(QStringLiteral("https://example.org/page"));
        link.SetOpener(desktop.Opener());
        link.SetErrorHandler([this](const QString& text) { errors.push_back(text); });
        link.resize(120, 16);
    }
    FakeDesktop desktop;
    LinkStatic link{QStringLiteral("example.org")};
    std::vector<QString> errors;
};

TEST_F(LinkStaticOpen, TheDesktopOpensItWithoutTheBrowserBeingAsked) {
    desktop.desktopOpens = true;
    desktop.browser = QStringLiteral("firefox %u");
    EXPECT_GT(link.Open(link.Url()), LinkStatic::kFirstSuccess);
    EXPECT_EQ(desktop.desktopUrls.size(), 1u);
    EXPECT_TRUE(desktop.started.empty());
}

TEST_F(LinkStaticOpen, FallsBackToTheBrowserWithTheAddressInPlaceOfThePlaceholder) {
    desktop.browser = QStringLiteral("\"/opt/my browser/browse\" --new-window \"%u\" --tail");
    desktop.startResult = 40;
    EXPECT_EQ(link.Open(QStringLiteral("https://example.org/page")), 40);
    ASSERT_EQ(desktop.started.size(), 1u);
    EXPECT_EQ(desktop.started[0],
              (QStringList{QStringLiteral("/opt/my browser/browse"), QStringLiteral("--new-window"),
                           QStringLiteral("https://example.org/page")}));
}

TEST_F(LinkStaticOpen, TheAddressStaysOneArgumentWhateverItContains) {
    desktop.browser = QStringLiteral("browse %u");
    const QString tricky = QStringLiteral("https://example.org/a b;touch x \"$(id)\"");
    link.Open(tricky);
    ASSERT_EQ(desktop.started.size(), 1u);
    EXPECT_EQ(desktop.started[0], (QStringList{QStringLiteral("browse"), tricky}));
}

TEST_F(LinkStaticOpen, AnAddressThatLooksLikeAnOptionNeverReachesTheBrowser) {
    desktop.browser = QStringLiteral("browse %u");
    EXPECT_EQ(link.Open(QStringLiteral("--remote-debugging-port=1")), LinkStatic::kNoAssociation);
    EXPECT_TRUE(desktop.started.empty());
}

TEST_F(LinkStaticOpen, WithoutABrowserTheDesktopsResultStands) {
    EXPECT_EQ(link.Open(link.Url()), LinkStatic::kNoAssociation);
    EXPECT_TRUE(desktop.started.empty());
}

TEST_F(LinkStaticOpen, AnEmptyBrowserLineCannotStartAnything) {
    desktop.browser = QStringLiteral("%u");
    EXPECT_EQ(link.Open(link.Url()), 2);
    EXPECT_TRUE(desktop.started.empty());
}

TEST_F(LinkStaticOpen, AClickThatOpensMarksTheLinkVisited) {
    desktop.desktopOpens = true;
    link.SetLinkColor(MakeColorRef(1, 2, 3));
    link.SetVisitedColor(MakeColorRef(4, 5, 6));
    EXPECT_EQ(link.TextColor(), MakeColorRef(1, 2, 3));
    QMouseEvent press(QEvent::MouseButtonPress, QPointF(5, 5), QPointF(5, 5), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QMouseEvent release(QEvent::MouseButtonRelease, QPointF(5, 5), QPointF(5, 5), Qt::LeftButton,
                        Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&link, &press);
    QCoreApplication::sendEvent(&link, &release);
    EXPECT_EQ(desktop.desktopUrls, std::vector<QString>{link.Url()});
    EXPECT_TRUE(link.IsVisited());
    EXPECT_EQ(link.TextColor(), MakeColorRef(4, 5, 6));
    EXPECT_EQ(link.palette().color(QPalette::WindowText), QColor(4, 5, 6));
    EXPECT_TRUE(errors.empty());
}

TEST_F(LinkStaticOpen, AFailedOpenExplainsWhyAndLeavesTheLinkUnvisited) {
    desktop.browser = QStringLiteral("browse %u");
    desktop.startResult = 2;
    link.Follow();
    EXPECT_FALSE(link.IsVisited());
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].toStdString(),
              "Unable to open hyperlink:\n\nThe specified file was not found.");
}

TEST_F(LinkStaticOpen, AReleaseOutsideTheLinkIsNoClick) {
    desktop.desktopOpens = true;
    QMouseEvent press(QEvent::MouseButtonPress, QPointF(5, 5), QPointF(5, 5), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QMouseEvent release(QEvent::MouseButtonRelease, QPointF(500, 5), QPointF(500, 5),
                        Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&link, &press);
    QCoreApplication::sendEvent(&link, &release);
    EXPECT_TRUE(desktop.desktopUrls.empty());
}

TEST_F(LinkStaticOpen, TheSystemOpenerReportsAMissingProgram) {
    const LinkOpener system = LinkOpener::System();
    EXPECT_EQ(system.startProgram(QStringLiteral("no-such-browser-glimmerstave-test"), {}), 2);
    EXPECT_EQ(system.startProgram(QStringLiteral("/nonexistent/browse"), {}), 2);
}

class LinkStaticHover : public LinkStaticOpen {
protected:
    void MoveOver() {
        QMouseEvent move(QEvent::MouseMove, QPointF(5, 5), QPointF(5, 5), Qt::NoButton,
                         Qt::NoButton, Qt::NoModifier);
        QCoreApplication::sendEvent(&link, &move);
    }
};

TEST_F(LinkStaticHover, UnderlinedAndInTheHoverColourOnlyWhileThePointerIsOver) {
    EXPECT_FALSE(link.IsUnderlined());
    MoveOver();
    EXPECT_TRUE(link.IsHovering());
    EXPECT_TRUE(link.IsUnderlined());
    EXPECT_EQ(link.TextColor(), MakeColorRef(255, 0, 0));
    link.CheckHover(QPoint(5, 5));
    EXPECT_TRUE(link.IsHovering());
    link.CheckHover(QPoint(5, 40));
    EXPECT_FALSE(link.IsHovering());
    EXPECT_FALSE(link.IsUnderlined());
    EXPECT_EQ(link.TextColor(), MakeColorRef(0, 0, 238));
}

TEST_F(LinkStaticHover, AlwaysUnderlinedStaysUnderlinedAfterThePointerLeaves) {
    link.SetUnderlineMode(1);
    EXPECT_TRUE(link.IsUnderlined());
    MoveOver();
    link.CheckHover(QPoint(-3, 5));
    EXPECT_TRUE(link.IsUnderlined());
    link.SetUnderlineMode(0);
    MoveOver();
    EXPECT_FALSE(link.IsUnderlined());
}

TEST_F(LinkStaticHover, TheTooltipIsTheAddress) {
    EXPECT_EQ(link.toolTip(), QStringLiteral("https://example.org/page"));
    LinkStatic bare;
    bare.SetUrl(QStringLiteral("https://example.org/x"));
    EXPECT_EQ(bare.text(), QStringLiteral("https://example.org/x"));
    EXPECT_EQ(bare.toolTip(), bare.Url());
}

// The default browser, found through private XDG folders.
class DefaultBrowserLookup : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(root.isValid());
        saved = {Env("XDG_CONFIG_HOME"), Env("XDG_DATA_HOME"), Env("XDG_DATA_DIRS"),
                 Env("XDG_CONFIG_DIRS")};
        QDir(root.path()).mkpath(QStringLiteral("config"));
        QDir(root.path()).mkpath(QStringLiteral("data/applications"));
        ::setenv("XDG_CONFIG_HOME", (root.path() + "/config").toLocal8Bit().constData(), 1);
        ::setenv("XDG_DATA_HOME", (root.path() + "/data").toLocal8Bit().constData(), 1);
        ::setenv("XDG_DATA_DIRS", (root.path() + "/none").toLocal8Bit().constData(), 1);
        ::setenv("XDG_CONFIG_DIRS", (root.path() + "/none").toLocal8Bit().constData(), 1);
    }
    void TearDown() override {
        const char* names[] = {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_DATA_DIRS",
                               "XDG_CONFIG_DIRS"};
        for (std::size_t i = 0; i < saved.size(); ++i) {
            ::setenv(names[i], saved[i].c_str(), 1);
        }
    }
    static std::string Env(const char* name) {
        const char* value = std::getenv(name);
        return value == nullptr ? std::string() : value;
    }
    void Write(const QString& relative, const QByteArray& text) {
        QFile file(root.path() + "/" + relative);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(text);
    }

    QTemporaryDir root;
    std::vector<std::string> saved;
};

TEST_F(DefaultBrowserLookup, ReadsTheExecLineOfTheDefaultHandler) {
    Write("config/mimeapps.list",
          "[Added Associations]\nx-scheme-handler/http=wrong.desktop;\n"
          "[Default Applications]\nx-scheme-handler/http=missing.desktop;browse.desktop;\n");
    Write("data/applications/browse.desktop",
          "[Desktop Action new]\nExec=browse --action %u\n"
          "[Desktop Entry]\nName=Browse\nExec=browse --class=x %u\n");
    EXPECT_EQ(DefaultBrowser::Command(),
              std::optional<QString>(QStringLiteral("browse --class=x %u")));
}

TEST_F(DefaultBrowserLookup, FallsBackToTheHtmlHandler) {
    Write("config/mimeapps.list", "[Default Applications]\ntext/html=browse.desktop\n");
    Write("data/applications/browse.desktop", "[Desktop Entry]\nExec=browse %f\n");
    EXPECT_EQ(DefaultBrowser::Command(), std::optional<QString>(QStringLiteral("browse %f")));
}

TEST_F(DefaultBrowserLookup, NothingWithoutADefaultOrWithAnIdThatClimbsOut) {
    EXPECT_FALSE(DefaultBrowser::Command().has_value());
    Write("config/mimeapps.list",
          "[Default Applications]\nx-scheme-handler/http=../../config/evil.desktop\n");
    Write("config/evil.desktop", "[Desktop Entry]\nExec=evil %u\n");
    EXPECT_FALSE(DefaultBrowser::Command().has_value());
}

TEST(DefaultBrowserParsing, ListsEveryHandlerInOrderAndIgnoresOtherGroups) {
    const QString text = QStringLiteral(
        "# comment\n[Default Applications]\n text/html = a.desktop; b.desktop;;\n"
        "[Removed Associations]\ntext/plain=c.desktop\n");
    EXPECT_EQ(DefaultBrowser::DefaultHandlers(text, QStringLiteral("text/html")),
              (QStringList{QStringLiteral("a.desktop"), QStringLiteral("b.desktop")}));
    EXPECT_TRUE(DefaultBrowser::DefaultHandlers(text, QStringLiteral("text/plain")).isEmpty());
    EXPECT_FALSE(DefaultBrowser::DesktopExec(QStringLiteral("[Desktop Entry]\nExec=\n")));
}

}  // namespace
