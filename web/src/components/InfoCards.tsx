import type { NetworkState } from '../messages';
import { NO_PING_TEXT, answersPing, titled } from '../format';
import { DetailList } from './PathView';
import { WifiCard } from './WifiCard';
import { GatewayCard, showsGatewayCard, type GatewayCommands } from './GatewayCard';
import { gatewayFacts, type GatewayStore } from '../gateway';

type Facts = Record<string, unknown>;

// The provider and, once it is known, the public address with its name and AS, and where it is
// once the information service placed it. The ISP segment says where the provider came from
// (the public address's AS, or the path's first ISP hop while the address is not known); the
// top-level public address object stands in for older messages without it.
function providerFacts(state: NetworkState): Facts | undefined {
  const details = state.segments.find((s) => s.id === 'isp')?.details ?? {};
  const pub = state.publicIpInfo;
  const str = (v: unknown): string | undefined => (typeof v === 'string' && v ? v : undefined);
  const facts: Facts = {};
  const put = (key: string, value: string | undefined) => {
    if (value) facts[key] = value;
  };
  put('publicIp', pub?.ipAddress ?? str(details.publicIp));
  put('publicHostname', pub?.hostname ?? str(details.publicHostname));
  put('provider', str(details.provider) ?? pub?.ispName);
  put('asn', str(details.asn) ?? pub?.asn);
  put('providerSource', str(details.providerSource));
  put('location', str(details.location));
  put('satelliteProvider', str(details.satelliteProvider));
  if (typeof details.ispDistanceMiles === 'number') facts.ispDistanceMiles = details.ispDistanceMiles;
  return facts.publicIp || facts.provider || facts.asn ? facts : undefined;
}

// The switch and port the cable goes into, as the switch announces them; the rest of the wired
// link's facts are listed below it.
function switchLine(link: Facts): { line?: string; rest: Facts } {
  const { lldpSwitch, lldpPort, ...rest } = link;
  const name = typeof lldpSwitch === 'string' ? lldpSwitch : '';
  const port = typeof lldpPort === 'string' ? lldpPort : '';
  if (!name && !port) return { rest: link };
  return { line: `Plugged into ${name || 'a switch'}${port ? `, port ${port}` : ''}`, rest };
}

// Link, gateway, public address and destination: each card only when there is something to say.
export function InfoCards({
  state,
  gateway,
}: {
  state: NetworkState;
  gateway?: { store: GatewayStore; commands: GatewayCommands };
}) {
  const connection = state.segments.find((s) => s.id === 'connection');
  const destination = state.segments.find((s) => s.id === 'services');
  // The link segment's details are the fuller ones; the top-level WiFi object stands in for them.
  const link = connection?.details ?? {};
  const wifi = 'ssid' in link ? link : state.wifiDetails;
  const wired = !wifi && link.adapterType ? switchLine(link) : undefined;
  const pub = state.publicIpInfo;
  const provider = providerFacts(state);
  const destDetails = destination && Object.keys(destination.details).length > 0 ? destination.details : undefined;
  const facts = gatewayFacts(state);
  const showGateway = gateway !== undefined && showsGatewayCard(facts, gateway.store);
  if (!wifi && !wired && !showGateway && !provider && !destDetails) return null;

  return (
    <section class="cards" aria-label="Connection details">
      {wifi && <WifiCard wifi={wifi} />}
      {wired && (
        <article class="card" aria-labelledby="card-wired">
          <h3 id="card-wired">Wired connection</h3>
          {wired.line && <p class="card-switch">{wired.line}</p>}
          <DetailList details={wired.rest} />
        </article>
      )}
      {showGateway && <GatewayCard facts={facts} gateway={gateway.store} commands={gateway.commands} />}
      {provider && (
        <article class="card" aria-labelledby="card-public">
          <h3 id="card-public">{pub ? 'Public address and ISP' : 'Your ISP'}</h3>
          {!pub && <p class="card-note">Named from the route to the internet; your public address is not known yet.</p>}
          <DetailList details={provider} />
        </article>
      )}
      {destDetails && destination && (
        <article class="card" aria-labelledby="card-dest">
          <h3 id="card-dest">{titled('Destination', destination.displayName)}</h3>
          {!answersPing(destDetails) && <p class="card-note">{NO_PING_TEXT}</p>}
          <DetailList details={destDetails} />
        </article>
      )}
    </section>
  );
}
