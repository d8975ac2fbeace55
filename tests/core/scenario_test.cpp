// The three roads of a fax through Vexa, end to end on the memory host with a real archive:
// a fax arriving, a fax sent, and its confirmation coming back.

#include <gtest/gtest.h>

#include "tests/support/harness.h"
#include "tests/support/mail.h"

namespace vexa::testing {
namespace {

class Roads : public ::testing::Test {
protected:
    Roads() {
        h.Start();
        h.addin->Options().chDescription.Value = 0;
    }
    Harness h{Harness::Kind::OnDisk};
};

TEST_F(Roads, AFaxArrives) {
    h.session->Deliver(IncomingFax());

    // The indicator lights, the archive holds the fax, and the Inbox is clear of it.
    EXPECT_EQ(h.Button(0)->FaceId(), 352);
    ASSERT_EQ(h.Rows("recv").size(), 1u);
    EXPECT_EQ(h.Rows("recv")[0].at("FileId"), "R0000001.tif");
    EXPECT_EQ(h.AttachFile("R0000001.tif"), kTiff);
    EXPECT_TRUE(h.session->Inbox()->Contents().empty());
    const auto store = h.session->Inbox()->Subfolder("VX2 Messages");
    ASSERT_NE(store, nullptr);
    EXPECT_EQ(store->Contents().size(), 1u);

    // The next fax goes into the same folder.
    h.session->Deliver(IncomingFax());
    EXPECT_EQ(store->Contents().size(), 2u);
    EXPECT_EQ(h.session->Inbox()->Subfolders().size(), 1u);
    EXPECT_TRUE(h.Messages().empty());
}

TEST_F(Roads, AFaxIsSentAndConfirmed) {
    h.addin->Options().chDescription.Value = 1;
    h.dialogs.Then([](DialogForm& f) {
        f.SetText("tDescription", "Quote for ACME, 3 pages");
        f.PressEnter();
    });
    const auto fax = h.session->NewMail(OutgoingFax());
    EXPECT_TRUE(h.session->Send(fax));

    // The tagged subject goes out; the row waits for its confirmation.
    EXPECT_EQ(h.session->Sent().size(), 1u);
    EXPECT_EQ(fax->Contents().subject, "Quote for ACME {0000001}");
    auto rows = h.Rows("send");
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].at("Description"), "Quote for ACME, 3 pages");
    EXPECT_EQ(rows[0].at("Confirm"), "Unconfirmed");
    EXPECT_EQ(h.AttachFile("S0000001.doc"), kDoc);

    // The service quotes the subject in its confirmation.
    h.session->Deliver(Confirmation("Successful transmission to 12125551234",
                                    "Your fax \"" + fax->Contents().subject + "\" was sent in 1 minute."));
    EXPECT_EQ(h.Rows("send")[0].at("Confirm"), "Successful");
    EXPECT_TRUE(h.session->Inbox()->Contents().empty());

    // A later failure report overwrites the outcome.
    h.session->Deliver(Confirmation("Unsuccessful Fax Transmission to 12125551234", fax->Contents().subject));
    EXPECT_EQ(h.Rows("send")[0].at("Confirm"), "Unsuccessful");
    EXPECT_EQ(h.session->Inbox()->Subfolder("VX2 Messages")->Contents().size(), 2u);
    EXPECT_TRUE(h.Messages().empty());
}

TEST_F(Roads, WithoutCopiesProcessedMailIsDeleted) {
    h.dialogs.Then([](DialogForm& f) {
        f.Click("rbDelete");
        f.PressEnter();
    });
    h.Button(2)->Click();
    h.session->Deliver(IncomingFax());
    EXPECT_TRUE(h.session->Inbox()->Contents().empty());
    EXPECT_EQ(h.session->DeletedItems()->Contents().size(), 1u);
    EXPECT_EQ(h.Rows("recv").size(), 1u);
}

TEST_F(Roads, AHostWithoutAWindowStillArchives) {
    Harness x(Harness::Kind::OnDisk);
    x.CloseExplorer();
    x.Start();
    x.session->Deliver(IncomingFax());
    EXPECT_TRUE(x.Messages().empty());
    EXPECT_EQ(x.Rows("recv").size(), 1u);
    EXPECT_TRUE(x.session->Inbox()->Contents().empty());
}

}  // namespace
}  // namespace vexa::testing
