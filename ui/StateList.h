// StateList1: the pictures shared by the tree, the main tool bar and the chat
// window's formatting tool bar, 16x16, by index:
// 0, 1 open folder; 2 green light (connected); 3 red light (not connected);
// 4 two people (a user); 5, 6, 7 font size up, down, normal; 8 background
// colour; 9 door (exit); 10 underline; 11 italic; 12 bold.
#pragma once

#include <QIcon>
#include <QPixmap>

namespace quorvik {

inline constexpr int StateImageCount = 13;

// A transparent picture for an index out of range.
QPixmap StateImage(int index);
QIcon StateIcon(int index);

} // namespace quorvik
