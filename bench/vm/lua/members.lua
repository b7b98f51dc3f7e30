local function run(o)
  o.x = 0
  for i = 0, 4999999 do o.x = o.x + 1 end
  return o.x
end
print(run({x = 0, y = 0}))
