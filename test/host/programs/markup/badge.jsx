// A component: used as <vx:Badge .../>.

export default class Badge {
  static render(props, data) {
    return '[' + props.label + (props.count ? ' ' + props.count : '') + ']';
  }
}
