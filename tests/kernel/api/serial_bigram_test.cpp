// Serial bigram answers on the built system data: the engine's second
// conversion of a keystroke reads the first one's pair answers, and must
// show exactly the same candidates in the same order.
#include <string>
#include <vector>

#include "kernel/api/kernel_singletons.h"
#include "kernel/api/kernel_startup.h"
#include "kernel/convert/cand_generator.h"
#include "kernel/runtime/cand_word.h"
#include "tests/kernel/api/api_support.h"

namespace {

class SerialBigramBuiltDataTest : public BuiltDataKernelTest {
public:
    // Text and rank of every candidate of a 2600-place page.
    std::vector<std::pair<std::u16string, int>> Page(const std::wstring& input) {
        t_convertRequest request;
        request.input = input.c_str();
        request.inputLength = int32_t(input.size());
        request.pageSize = 2600;
        request.allLowerCase = 1;
        const int n = generator.Generate(&request, results.data());
        std::vector<std::pair<std::u16string, int>> page;
        for (int i = 0; i < n; ++i) {
            const t_lstr* t = results[size_t(i)]->text;
            page.emplace_back(t ? std::u16string(reinterpret_cast<const char16_t*>(LstrGetUnits(t)),
                                                 LstrGetLength(t))
                                : std::u16string(),
                              results[size_t(i)]->rank);
        }
        return page;
    }
    t_candGenerator generator;
    std::vector<t_candWord*> results = std::vector<t_candWord*>(2600);
};

TEST_F(SerialBigramBuiltDataTest, TheSecondConversionOfAKeystrokeShowsTheSamePage) {
    const std::wstring sentence = L"zhongguorenmindaxuejisuanjixueyuande";
    for (size_t k = 6; k <= sentence.size(); k += 5) {
        const std::wstring typed = sentence.substr(0, k);
        const auto first = Page(typed);
        const auto second = Page(typed);
        ASSERT_FALSE(first.empty());
        EXPECT_EQ(first, second) << std::string(typed.begin(), typed.end());
    }
    EXPECT_EQ(0, GetBigramQuerySerialCache().enabled);  // off between passes
}

}  // namespace
