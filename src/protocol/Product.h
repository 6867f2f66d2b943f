#pragma once
// The product's name, version and home page, shared by every part of the
// program that shows or sends them (CTCP replies, the about box).

namespace zorv {

inline constexpr char kProductVersion[] = "2.9.22R";
inline constexpr char kHomePage[] = "http://zorv.sourceforge.net/";
inline constexpr char kVersionReply[] = "Zorv 2.9.22R [Win95/98/NT]";

}  // namespace zorv
