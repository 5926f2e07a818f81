// The link's event sink as an application calls it: the interfaces it
// answers, the integer types RefreshData's argument may come in, and the
// dispatch identifiers it ignores.
#include "RefreshDataSink.h"
#include "CltPel_TLB.h"
#include "ComSupport.h"
#include "LinkIdentifiers.h"
#include "Pel_TLB.h"
#include "WideText.h"

#include <gtest/gtest.h>

#include <optional>

using namespace pelmbus;
using pelmbus::com::ComRef;
using pelmbus::com::RefreshDataSink;

namespace {

class Sink : public ::testing::Test {
protected:
    Sink() : eventId_(com::ToGuid(AutoPelIdentifiers.EventInterfaceGuid())) {
        *sink_.Put() = new RefreshDataSink(eventId_, [this](int32_t ind) { received_ = ind; });
    }

    HRESULT Invoke(DISPID id, VARIANT* args, UINT count) {
        DISPPARAMS params{args, nullptr, count, 0};
        return sink_->Invoke(id, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr);
    }

    IID eventId_;
    ComRef<RefreshDataSink> sink_;
    std::optional<int32_t> received_;
};

TEST(Guid, TheRecordsParseToTheGuidsComReadsFromTheirText) {
    for (const LinkIdentifiers* ids : {&AutoPelIdentifiers, &AutoCltPelIdentifiers}) {
        for (std::string_view text : {ids->ClassId, ids->InterfaceId, ids->EventInterfaceId}) {
            GUID parsed{};
            ASSERT_EQ(IIDFromString(WideFromUtf8(text).c_str(), &parsed), S_OK) << text;
            EXPECT_TRUE(IsEqualGUID(parsed, com::ToGuid(ParseGuid(text)))) << text;
        }
    }
}

TEST_F(Sink, AnswersTheEventInterfaceIDispatchAndIUnknownOnly) {
    for (const IID& iid : {eventId_, IID_IDispatch, IID_IUnknown}) {
        ComRef<IUnknown> answer;
        EXPECT_EQ(sink_->QueryInterface(iid, answer.PutVoid()), S_OK);
        EXPECT_TRUE(answer);
    }
    const IID other = com::ToGuid(AutoCltPelIdentifiers.EventInterfaceGuid());
    ComRef<IUnknown> answer;
    EXPECT_EQ(sink_->QueryInterface(other, answer.PutVoid()), E_NOINTERFACE);
    EXPECT_FALSE(answer);
}

TEST_F(Sink, RefreshDataTakesAnyIntegerVariantAsItsFirstArgument) {
    VARIANT arg;
    VariantInit(&arg);
    arg.vt = VT_I2;
    arg.iVal = -7;
    EXPECT_EQ(Invoke(1, &arg, 1), S_OK);
    EXPECT_EQ(received_, -7);

    arg.vt = VT_INT;
    arg.intVal = 123456;
    EXPECT_EQ(Invoke(1, &arg, 1), S_OK);
    EXPECT_EQ(received_, 123456);

    LONG referenced = 42;
    arg.vt = VT_I4 | VT_BYREF;
    arg.plVal = &referenced;
    EXPECT_EQ(Invoke(1, &arg, 1), S_OK);
    EXPECT_EQ(received_, 42);

    // Arguments come last to first: the first is the last element.
    VARIANT two[2];
    VariantInit(&two[0]);
    VariantInit(&two[1]);
    two[0].vt = VT_I4;
    two[0].lVal = 99;
    two[1].vt = VT_UI1;
    two[1].bVal = 5;
    EXPECT_EQ(Invoke(1, two, 2), S_OK);
    EXPECT_EQ(received_, 5);
}

TEST_F(Sink, OtherIdentifiersAreAnsweredWithSuccessAndIgnored) {
    VARIANT arg;
    VariantInit(&arg);
    arg.vt = VT_I4;
    arg.lVal = 3;
    EXPECT_EQ(Invoke(2, &arg, 1), S_OK);
    EXPECT_EQ(Invoke(DISPID_UNKNOWN, &arg, 1), S_OK);
    EXPECT_EQ(Invoke(0, nullptr, 0), S_OK);
    EXPECT_FALSE(received_);
}

TEST_F(Sink, UnusableArgumentRaisesNothing) {
    EXPECT_EQ(Invoke(1, nullptr, 0), DISP_E_BADPARAMCOUNT);
    VARIANT arg;
    VariantInit(&arg);
    arg.vt = VT_EMPTY;
    VARIANT text;
    text.vt = VT_BSTR;
    text.bstrVal = SysAllocString(L"не число");
    EXPECT_TRUE(FAILED(Invoke(1, &text, 1)));
    VariantClear(&text);
    EXPECT_FALSE(received_);
}

TEST_F(Sink, DisconnectedSinkAnswersAndRaisesNothing) {
    sink_->Disconnect();
    VARIANT arg;
    VariantInit(&arg);
    arg.vt = VT_I4;
    arg.lVal = 1;
    EXPECT_EQ(Invoke(1, &arg, 1), S_OK);
    EXPECT_FALSE(received_);
}

} // namespace
