# The link's frame reader over a real socket: headers, limits, bodies and the message decoders.
tarnvale_fuzz(read_framed SOURCES fuzz_read_framed.cpp DEPS tarnvale_host_ipc)
