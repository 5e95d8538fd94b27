function work()
  local count = 0
  local flags = {}
  for round = 1, 30 do
    for i = 0, 199999 do flags[i] = true end
    count = 0
    for i = 2, 199999 do
      if flags[i] then
        for k = i + i, 199999, i do flags[k] = false end
        count = count + 1
      end
    end
  end
  return count
end
