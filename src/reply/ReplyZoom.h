#pragma once

#include <QString>

class ReplyBox;

// The reply box's font sizes: steps from 6 to 48 points around the design
// size, and the size kept in the settings store from one start to the next.
namespace ReplyZoom {
constexpr double kDefaultPoints = 11.25;
constexpr double kSmallest = 6;
constexpr double kLargest = 48;

// The next step up or down from any size (one between steps goes to the nearer step that way).
double larger(double points);
double smaller(double points);
// A stored size; anything unreadable or out of range is the default.
double fromSetting(const QString& value);
QString toSetting(double points);

// Gives the box the stored size and stores every later change.
void keepInSettings(ReplyBox& box);
} // namespace ReplyZoom
