#include "link/serial/Port.h"

#include <gtest/gtest.h>

namespace {

using Chunks = std::vector<std::vector<uint8_t>>;

std::vector<uint8_t> Filter(const serial::ReceiveFilter& filter, const Chunks& chunks) {
    serial::ReceiveMarks marks;
    std::vector<uint8_t> out;
    for (const auto& chunk : chunks) {
        serial::FilterReceived(filter, marks, chunk.data(), chunk.size(), out);
    }
    return out;
}

constexpr serial::ReceiveFilter kPlain{};
constexpr serial::ReceiveFilter kMarked{.marked = true};
constexpr serial::ReceiveFilter kReplace{.marked = true, .replaceErrors = true, .errorChar = '?'};
constexpr serial::ReceiveFilter kDropNul{.dropNul = true};
constexpr serial::ReceiveFilter kAll{
    .marked = true, .replaceErrors = true, .errorChar = '?', .dropNul = true};

struct Case {
    const char* name;
    serial::ReceiveFilter filter;
    Chunks in;
    std::vector<uint8_t> out;
};

TEST(FilterReceived, Cases) {
    const Case cases[] = {
        {"plain bytes pass as they are",
         kPlain,
         {{'a', 0xFF, 0x00, 'b', 0xFF, 0xFF}},
         {'a', 0xFF, 0x00, 'b', 0xFF, 0xFF}},
        {"doubled FF is one FF", kMarked, {{'a', 0xFF, 0xFF, 'b'}}, {'a', 0xFF, 'b'}},
        {"bad byte kept without replacement",
         kMarked,
         {{'a', 0xFF, 0x00, 'X', 'b'}},
         {'a', 'X', 'b'}},
        {"bad byte replaced", kReplace, {{'a', 0xFF, 0x00, 'X', 0xFF, 0xFF}}, {'a', '?', 0xFF}},
        {"good NUL kept when marked", kReplace, {{0x00, 'a'}}, {0x00, 'a'}},
        {"NULs dropped", kDropNul, {{0x00, 'a', 0x00, 0x00, 'b', 0x00}}, {'a', 'b'}},
        {"NUL drop keeps FF", kDropNul, {{0xFF, 0x00, 0xFF}}, {0xFF, 0xFF}},
        {"break (bad NUL) dropped", kAll, {{'a', 0xFF, 0x00, 0x00, 'b'}}, {'a', 'b'}},
        {"bad byte replaced with NUL drop on", kAll, {{0xFF, 0x00, 'X', 0x00}}, {'?'}},
        {"mark cut after FF", kReplace, {{'a', 0xFF}, {0x00, 'X', 'b'}}, {'a', '?', 'b'}},
        {"mark cut after FF 00", kReplace, {{'a', 0xFF, 0x00}, {'X'}}, {'a', '?'}},
        {"doubled FF cut", kMarked, {{0xFF}, {0xFF}, {0xFF}, {0xFF, 'c'}}, {0xFF, 0xFF, 'c'}},
        {"lone FF before another byte kept",
         kMarked,
         {{0xFF, 'A'}, {0xFF}, {'B'}},
         {0xFF, 'A', 0xFF, 'B'}},
        {"empty read", kMarked, {{}}, {}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Filter(c.filter, c.in), c.out) << c.name;
    }
}

TEST(FilterReceived, HeldMarkIsNotHandedOutEarly) {
    serial::ReceiveMarks marks;
    std::vector<uint8_t> out;
    const uint8_t first[] = {'a', 0xFF, 0x00};
    serial::FilterReceived(kReplace, marks, first, sizeof first, out);
    EXPECT_EQ(out, std::vector<uint8_t>{'a'});
    EXPECT_EQ(marks.held, 2);
}

TEST(FilterReceived, HeldMarkBecomesDataWhenMarkingIsSwitchedOff) {
    serial::ReceiveMarks marks;
    std::vector<uint8_t> out;
    const uint8_t first[] = {'a', 0xFF};
    const uint8_t second[] = {'b'};
    serial::FilterReceived(kMarked, marks, first, sizeof first, out);
    serial::FilterReceived(kPlain, marks, second, sizeof second, out);
    EXPECT_EQ(out, (std::vector<uint8_t>{'a', 0xFF, 'b'}));
    EXPECT_EQ(marks.held, 0);
}

} // namespace
