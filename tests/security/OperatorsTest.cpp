#include "security/Operators.h"

#include "TestHome.h"
#include "core/AppError.h"
#include "records/Database.h"

#include <gtest/gtest.h>

namespace {

class OperatorsTest : public ::testing::Test {
protected:
    void SetUp() override { db.open(); }

    TestHome home;
    Database db;
};

TEST_F(OperatorsTest, OnlyTheRightPasswordOfAnEnabledAccountLogsIn)
{
    Operators operators(db, PasswordLimits::least());
    operators.add(QStringLiteral("anna"), Role::Administrator, QStringLiteral("correct horse"));
    operators.add(QStringLiteral("bob"), Role::Operator, QStringLiteral("battery staple"));
    operators.disable(QStringLiteral("bob"));
    const struct {
        const char *login;
        const char *password;
        bool in;
    } cases[] = {
        {"anna", "correct horse", true},    {"anna", "correct horsE", false}, {"anna", "", false},
        {"nobody", "correct horse", false}, {"bob", "battery staple", false}, // disabled
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.login);
        EXPECT_EQ(operators.authenticate(QString::fromLatin1(c.login), QString::fromLatin1(c.password)).has_value(),
                  c.in);
    }
    EXPECT_FALSE(OperatorStore::find(db, QStringLiteral("anna"))->passwordHash.contains(QStringLiteral("horse")));
    EXPECT_FALSE(OperatorStore::find(db, QStringLiteral("anna"))->lastLogin.isEmpty());
    EXPECT_THROW(operators.add(QStringLiteral("anna"), Role::Operator, QStringLiteral("another one")), AppError);
    EXPECT_THROW(operators.add(QStringLiteral("carl"), Role::Operator, QStringLiteral("short")), AppError);
    EXPECT_THROW(operators.setPassword(QStringLiteral("nobody"), QStringLiteral("long enough")), AppError);
}

TEST_F(OperatorsTest, AHashOfOtherLimitsIsMadeAgainAtTheNextLogin)
{
    Operators(db, PasswordLimits::least()).add(QStringLiteral("anna"), Role::Operator, QStringLiteral("correct horse"));
    const QString before = OperatorStore::find(db, QStringLiteral("anna"))->passwordHash;
    const PasswordLimits more{PasswordLimits::least().operations + 1, PasswordLimits::least().memory * 2};
    Operators operators(db, more);
    ASSERT_TRUE(operators.authenticate(QStringLiteral("anna"), QStringLiteral("correct horse")));
    const QString after = OperatorStore::find(db, QStringLiteral("anna"))->passwordHash;
    EXPECT_NE(after, before);
    EXPECT_TRUE(after.startsWith(QStringLiteral("$argon2id$"))) << after.toStdString();
    EXPECT_TRUE(operators.authenticate(QStringLiteral("anna"), QStringLiteral("correct horse")));
    EXPECT_EQ(OperatorStore::find(db, QStringLiteral("anna"))->passwordHash, after); // the same limits: kept
}

} // namespace
