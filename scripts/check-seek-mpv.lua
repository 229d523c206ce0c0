-- Plays up to play_to seconds, seeks back to seek_to (exactly) and plays on to the end, as a
-- user does; prints "seek" at the seek and "size WxH at T" whenever the decoded picture size
-- changes. Used by the tests with a null video and audio output:
--   mpv --no-config --vo=null --ao=null --untimed --script=scripts/check-seek-mpv.lua \
--       --script-opts=play_to=2.1,seek_to=1.0 FILE
local seeked = false
local play_to = tonumber(mp.get_opt("play_to"))
local seek_to = tonumber(mp.get_opt("seek_to"))

mp.observe_property("time-pos", "number", function(_, t)
  if t and not seeked and t >= play_to then
    seeked = true
    mp.commandv("seek", tostring(seek_to), "absolute", "exact")
    print("seek")
  end
end)

mp.observe_property("video-params", "native", function(_, p)
  if p then
    print(string.format("size %dx%d at %.3f", p.w, p.h, mp.get_property_number("time-pos", -1)))
  end
end)
