// The passkey prompt as a person drives it with the keyboard: what each step offers, what
// Enter and Escape answer, and that a PIN is never shown. Runs on the offscreen platform.

#include "webview/passkeyprompt.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

namespace {

class PasskeyPromptTest : public ::testing::Test
{
protected:
    PasskeyPromptTest()
    {
        prompt.show();
        // Keys go where a person's would: to the control that has the focus.
        prompt.activateWindow();
        if (!QTest::qWaitForWindowActive(&prompt))
            ADD_FAILURE() << "the prompt never became the active window";
    }

    void press(Qt::Key key)
    {
        QWidget *target = QApplication::focusWidget();
        QTest::keyClick(target != nullptr ? target : &prompt, key);
    }

    QString shownText() const
    {
        QStringList texts;
        for (const QLabel *label : prompt.findChildren<QLabel *>()) {
            if (label->isVisible())
                texts.append(label->text());
        }
        return texts.join(QLatin1Char('\n'));
    }

    PasskeyPrompt prompt{nullptr};
    QSignalSpy chosen{&prompt, &PasskeyPrompt::accountChosen};
    QSignalSpy pins{&prompt, &PasskeyPrompt::pinEntered};
    QSignalSpy retries{&prompt, &PasskeyPrompt::retryRequested};
    QSignalSpy declines{&prompt, &PasskeyPrompt::declined};
};

TEST_F(PasskeyPromptTest, EveryStepSaysWhoAsksAndHowToDecline)
{
    struct Case {
        const char *name;
        PasskeyStep::Kind kind;
    };
    const Case cases[] = {
        {"waiting", PasskeyStep::Kind::Waiting},
        {"choose an account", PasskeyStep::Kind::ChooseAccount},
        {"touch the key", PasskeyStep::Kind::TouchKey},
    };
    for (const Case &c : cases) {
        PasskeyStep step;
        step.kind = c.kind;
        step.site = QStringLiteral("login.example");
        step.accounts = {QStringLiteral("alice")};
        prompt.showStep(step);
        EXPECT_TRUE(shownText().contains(QStringLiteral("login.example"))) << c.name;
        EXPECT_TRUE(shownText().contains(QStringLiteral("Escape"))) << c.name;
        press(Qt::Key_Escape);
        EXPECT_EQ(declines.count(), 1) << c.name;
        declines.clear();
    }
}

TEST_F(PasskeyPromptTest, ArrowKeysAndEnterChooseAnAccount)
{
    PasskeyStep step;
    step.kind = PasskeyStep::Kind::ChooseAccount;
    step.accounts = {QStringLiteral("alice"), QStringLiteral("bob"), QStringLiteral("carol")};
    prompt.showStep(step);
    ASSERT_EQ(QApplication::focusWidget(), prompt.findChild<QListWidget *>());
    press(Qt::Key_Down);
    press(Qt::Key_Down);
    press(Qt::Key_Up);
    press(Qt::Key_Return);
    ASSERT_EQ(chosen.count(), 1);
    EXPECT_EQ(chosen.at(0).at(0).toString(), QStringLiteral("bob"));
    EXPECT_EQ(declines.count(), 0);
}

TEST_F(PasskeyPromptTest, PinIsMaskedCarriesAttemptsLeftAndGoesOnce)
{
    PasskeyStep step;
    step.kind = PasskeyStep::Kind::EnterPin;
    step.attemptsLeft = 2;
    step.problem = QStringLiteral("That PIN was wrong.");
    prompt.showStep(step);
    auto *edit = prompt.findChild<QLineEdit *>();
    ASSERT_EQ(QApplication::focusWidget(), edit);
    EXPECT_EQ(edit->echoMode(), QLineEdit::Password);
    EXPECT_TRUE(shownText().contains(QStringLiteral("That PIN was wrong.")));
    EXPECT_TRUE(shownText().contains(QStringLiteral("2 attempt(s) left")));

    press(Qt::Key_Return); // nothing typed: nothing sent
    EXPECT_EQ(pins.count(), 0);
    QTest::keyClicks(edit, QStringLiteral("4711"));
    press(Qt::Key_Return);
    ASSERT_EQ(pins.count(), 1);
    EXPECT_EQ(pins.at(0).at(0).toString(), QStringLiteral("4711"));
    EXPECT_TRUE(edit->text().isEmpty());
    EXPECT_EQ(declines.count(), 0);
}

TEST_F(PasskeyPromptTest, AFailureOffersTryAgainAndClose)
{
    PasskeyStep step;
    step.kind = PasskeyStep::Kind::Failed;
    step.problem = QStringLiteral("This security key is not registered with the site.");
    prompt.showStep(step);
    EXPECT_TRUE(shownText().contains(step.problem));
    QPushButton *retry = nullptr;
    for (QPushButton *button : prompt.findChildren<QPushButton *>()) {
        if (button->isVisible() && button->text() == QStringLiteral("Try again"))
            retry = button;
    }
    ASSERT_NE(retry, nullptr);
    QTest::mouseClick(retry, Qt::LeftButton);
    EXPECT_EQ(retries.count(), 1);
    press(Qt::Key_Escape);
    EXPECT_EQ(declines.count(), 1);
    // The window system's close declines too, and the prompt stays up until what follows the
    // request takes it away.
    prompt.close();
    EXPECT_EQ(declines.count(), 2);
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
