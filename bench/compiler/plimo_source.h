// Generates Plimo class sources that look like game code: sprites with state machines, loops over
// lists, arithmetic, string building, calls through this, super and other objects.
#pragma once

#include <string>

namespace plimo::bench {

inline const char* kBaseClassSource = "constructor create(x, y) { px = x; py = y; }\r\n"
                                      "function move(dx, dy) { px += dx; py += dy; return this; }\r\n"
                                      "function draw() { return px + py; }\r\n"
                                      "native print;\r\n";

// One class of about `methods` * 24 + 12 lines; index varies names and constants.
inline std::string MakeClassSource(int index, int methods) {
    std::string n = std::to_string(index);
    std::string s;
    s += "extends Base;\r\n";
    s += "// generated actor " + n + "\r\n";
    s += "constructor create(x, y) {\r\n  var i;\r\n  super(x, y);\r\n  speed = " + n +
         ";\r\n"
         "  items = null;\r\n  name = \"actor" +
         n + "\\t\\\"n\\\"\";\r\n  return this;\r\n}\r\n";
    for (int m = 0; m < methods; ++m) {
        std::string k = std::to_string(m);
        s += "function step" + k + "(dx, dy, list) {\r\n";
        s += "  var i, sum, it, t;\r\n";
        s += "  sum = 0;\r\n";
        s += "  for (i = 0; i < " + k + " + 10; i++) {\r\n";
        s += "    sum += i * dx - dy / 2 + (i % 3);\r\n";
        s += "    if (sum > 100 && dx != 0 || dy == 3) {\r\n";
        s += "      this.px = sum;\r\n";
        s += "    } else {\r\n";
        s += "      py = py - 1.5;\r\n";
        s += "    }\r\n";
        s += "  }\r\n";
        s += "  /* walk the list */\r\n";
        s += "  for (it in list) {\r\n";
        s += "    if (it is Base) it.move(dx, -dy);\r\n";
        s += "    if (!it) break;\r\n";
        s += "  }\r\n";
        s += "  while (t < 5) { t++; $score += t; }\r\n";
        s += "  t = new Base(px, py);\r\n";
        s += "  t.draw().value = sum;\r\n";
        s += "  move(dx, dy);\r\n";
        s += "  super.move(1, 2);\r\n";
        s += "  print(\"step " + k + ": \" + sum);\r\n";
        s += "  return sum >= 0;\r\n";
        s += "}\r\n";
    }
    s += "speed = speed + 1;\r\n";
    s += "if (speed > 3) state = 1; else state = 2;\r\n";
    s += "step0(1, 2, items);\r\n";
    return s;
}

inline int CountLines(const std::string& s) {
    int n = 0;
    for (char c : s) n += c == '\n';
    return n;
}

} // namespace plimo::bench
