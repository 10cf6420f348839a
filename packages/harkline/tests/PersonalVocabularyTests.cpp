#include <filesystem>

#include <gtest/gtest.h>

#include "cli-frame/Testing/RecordingLogger.h"
#include "harkline/Platform/Speech/PersonalVocabulary.h"
#include "harkline/Platform/Speech/SherpaOnnx/SherpaOnnxHotwords.h"
#include "test-support/TemporaryHome.h"

namespace harkline {
namespace {

using Phrase = PersonalVocabulary::Phrase;

TEST(PersonalVocabulary, PhrasesKeepTheirBoostOtherLinesAreSkippedAndHotwordsAreSpelledAsTheModelCan) {
    cli::RecordingLogger log;
    auto vocabulary = PersonalVocabulary::parse(
        "  Tessaryn\t \nfoo  bar :0.5\nx :0\ny :-1\nz :inf\nw :2x\n:2\n\xFF\xFE\n" + std::string(300, 'a') + "\nlast :3", log.logger());
    EXPECT_EQ(vocabulary.phrases(), (std::vector<Phrase>{{"Tessaryn", std::nullopt}, {"foo bar", 0.5f}, {"last", 3.0f}}));
    EXPECT_EQ(vocabulary.skippedLines(), 7u);
    EXPECT_TRUE(log.contains("INFO 个人词表第 7 行已跳过（只有权重，没有短语）: :2"));
    EXPECT_TRUE(log.contains("INFO 个人词表第 8 行已跳过（不是 UTF-8 文本）"));

    // The phrases given to a transducer as hotwords.
    testsupport::TemporaryHome home;
    auto tokens = home.path() / "tokens.txt";
    testsupport::writeFile(tokens, "<blk> 0\n\xE2\x96\x81H 1\nE 2\nL 3\n\xE2\x96\x81O 4\nW 5\nR 6\nD 7\n\xE4\xBD\xA0 8\n");
    SherpaOnnxStreamingModel model{.tokens = tokens};
    vocabulary = PersonalVocabulary::parse("hello :2\nworld\n你 world\n你好\n你\n", log.logger());
    // Without the BPE vocabulary an English word must be a token as it stands: none is.
    EXPECT_EQ(sherpaOnnxHotwords(vocabulary, model, log.logger()), "你\n");
    // With it, words are spelled by letters, in the case of the model's tokens.
    model.bpeVocab = home.path() / "bpe.vocab";
    EXPECT_EQ(sherpaOnnxHotwords(vocabulary, model, log.logger()), "HELLO :2\nWORLD\n你 WORLD\n你\n");
    EXPECT_TRUE(log.contains("INFO 个人词表短语已跳过（模型的词元拼不出它）: 你好"));
}

}  // namespace
}  // namespace harkline
