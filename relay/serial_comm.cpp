// filled in by the relay work
