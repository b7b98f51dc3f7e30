dofile(arg[0]:match("(.*/)") .. "common.lua")
local Point = {}
Point.__index = Point
function Point.new(x, y) return setmetatable({x = x, y = y}, Point) end
local function run()
  local s = 0
  for i = 0, 999999 do
    local p = Point.new(i, 2)
    s = s + p.x + p.y
  end
  return wrap(s)
end
print(run())
