# Daemon messages: AgentBound (with every nested vocabulary type) and the handshake answer.
tarnvale_fuzz(agent_bound SOURCES fuzz_agent_bound.cpp DEPS tarnvale_host_ipc)
